#!/usr/bin/env bash
# Starts the monitor with the simulated controller in a virtual X display under a real window
# manager (openbox), lets it run, and saves a picture of its window as users see it: frame and
# title bar included. Usage: scripts/screenshot.sh [OUTPUT.png] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/screenshot.png}"
wait_s="${2:-12}"
bin="${KEST_BIN:-build/bin/kestlsugraph}"
xvfb-run -a -s "-screen 0 800x600x24" bash -c '
  openbox >/dev/null 2>&1 & wm=$!
  for _ in $(seq 50); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done
  QT_QPA_PLATFORM=xcb "$0" --demo & pid=$!
  sleep "$1"
  # The window with its frame: the frame is the parent openbox gave the client window.
  client=$(xdotool search --name "^Torvane LSU4 KEST INTERFACE\$" | head -n 1)
  frame=$(xwininfo -id "$client" -children | sed -n "s/^  Parent window id: \(0x[0-9a-f]*\).*/\1/p")
  import -window "${frame:-root}" "$2"
  kill $pid; wait $pid 2>/dev/null || true
  kill $wm 2>/dev/null || true
' "$bin" "$wait_s" "$out"
echo "saved $out"
