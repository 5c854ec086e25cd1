#!/usr/bin/env bash
# Starts the monitor with the simulated controller in a virtual X display, lets it run, and saves a
# picture of its window. Usage: scripts/screenshot.sh [OUTPUT.png] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/screenshot.png}"
wait_s="${2:-12}"
bin="${KEST_BIN:-build/bin/kestlsugraph}"
xvfb-run -a -s "-screen 0 800x600x24" bash -c '
  "$0" --demo & pid=$!
  sleep "$1"
  import -window root -crop 660x480+70+60 "$2"
  kill $pid; wait $pid 2>/dev/null || true
' "$bin" "$wait_s" "$out"
echo "saved $out"
