#!/usr/bin/env bash
# CI: the Windows build, run for real. Cross-compiles the programs and their tests for 64-bit
# Windows against the Qt for mingw (scripts/cross-build.sh) and runs them under Wine in a fresh
# throw-away prefix, with the simulated controller (kestsim, built natively) on a pseudo-terminal
# that Wine maps as COM1:
#  - every Windows test binary, the window's and the viewer's on Qt's offscreen platform, the
#    driver's over the Win32 backend talking to the simulator on COM1;
#  - kestlsugraph.exe on Qt's windows platform in a virtual X display under openbox: its title
#    must show the simulator's reading while another window is in front, and a screenshot of it
#    is kept in ci-artifacts/windows-wine.png;
#  - kestlog.exe --port COM1 --seconds 5: rows written, every one live with the simulator's
#    reading once the first answer is in (kept in ci-artifacts/kestlog-wine.csv).
# Fails on any failure.
#
# Needs, besides scripts/setup.sh: g++-mingw-w64-x86-64-posix, googletest and wine64 (setup.sh
# --ci installs them), and the Qt archive that scripts/cross-build.sh names. Needs no network.
# Usage: scripts/ci-wine.sh
#   KEST_NATIVE_BUILD  the native build folder that has (or gets) bin/kestsim; default build
#   KEST_CROSS_BUILD   the cross build folder; default build-win
#   KEST_WINDOWS_BIN   the folder with the Windows programs to run end to end; default the zip
#                      that scripts/package-windows.sh makes from the cross build (into dist/),
#                      unpacked into an empty folder, so the run uses what a user downloads
set -euo pipefail
cd "$(dirname "$0")/.."

native=${KEST_NATIVE_BUILD:-build}
cross=${KEST_CROSS_BUILD:-build-win}
export KEST_CROSS_BUILD=$cross
artifacts=$PWD/ci-artifacts
for tool in xvfb-run Xvfb openbox xdotool wmctrl xprop xmessage import; do
  command -v "$tool" >/dev/null || { echo "ci-wine.sh: $tool missing: scripts/setup.sh" >&2; exit 1; }
done
# Debian's wine64 keeps its loader and server outside PATH unless the wine package is installed.
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
for tool in "$wine" "$wineserver"; do
  [[ -x $tool ]] || { echo "ci-wine.sh: $tool missing: apt-get install wine64" >&2; exit 1; }
done

started=$SECONDS
phase_start=$SECONDS
phases=()
phase_done() {
  phases+=("$1 $((SECONDS - phase_start)) s")
  phase_start=$SECONDS
}

# --- Build: the cross tests, and the simulator for the far end of the line. ---
bash scripts/cross-build.sh --tests
if [[ ! -f $native/CMakeCache.txt ]]; then
  cmake -S . -B "$native" -G Ninja
fi
cmake --build "$native" --target kestsim
phase_done build

# --- The zip a user downloads, unpacked where nothing else is: the end-to-end runs use it. ---
if [[ -z ${KEST_WINDOWS_BIN:-} ]]; then
  bash scripts/package-windows.sh "$cross"
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$cross/CMakeCache.txt")
  unpacked=$(mktemp -d "${TMPDIR:-/tmp}/kest-zip.XXXXXX")
  unzip -q "${KEST_DIST:-dist}/kestlsugraph-$version-windows-x86_64.zip" -d "$unpacked"
  KEST_WINDOWS_BIN=$(dirname "$(find "$unpacked" -name kestlsugraph.exe | head -n 1)")
fi
phase_done package

# --- A fresh prefix, made without asking anything. ---
work=$(mktemp -d "${TMPDIR:-/tmp}/kest-wine.XXXXXX")
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would look for the network.
export WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY WAYLAND_DISPLAY
sim_pid=""
x_pids=()

# shellcheck disable=SC2317  # both run from the EXIT trap
show_logs() {
  local log
  for log in "$work"/*.log; do
    [[ -s $log ]] || continue
    echo "--- $(basename "$log") (last lines)"
    tail -n 20 "$log"
  done
}
# shellcheck disable=SC2317
cleanup() {
  local status=$?
  # The server first: it holds the pseudo-terminal as its controlling terminal, so the simulator's
  # end closing under it would hang it up, and it answers a hang-up by dumping its whole state.
  "$wineserver" -k >/dev/null 2>&1 || true
  local pid
  for pid in "${x_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [[ -n $sim_pid ]]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  (( status == 0 )) || show_logs >&2
  rm -rf "$work" "${unpacked:-}"
  exit "$status"
}
trap cleanup EXIT

timeout 600 "$wine" wineboot -i </dev/null >"$work/wineboot.log" 2>&1
"$wineserver" -w
phase_done prefix

# --- The simulator on a new pseudo-terminal, mapped as COM1. ---
afr=147
"$native/bin/kestsim" --afr "$afr" >"$work/kestsim.out" 2>"$work/kestsim.log" &
sim_pid=$!
pty=""
for _ in $(seq 100); do
  pty=$(head -n 1 "$work/kestsim.out" 2>/dev/null || true)
  [[ -n $pty ]] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
[[ $pty == /dev/* ]] || { echo "ci-wine.sh: the simulator did not start" >&2; exit 1; }
# Wine's device manager makes the com links of dosdevices afresh from /dev/ttyS* whenever the
# prefix starts (COM1 would become /dev/ttyS0 again); a port named in its Ports key keeps its
# device, so the link is both written into the key and made at once.
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$pty" /f </dev/null >"$work/reg.log" 2>&1
"$wineserver" -w
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com1"
# One server for every test binary, so that each does not start the prefix anew.
"$wineserver" -p >"$work/wineserver.log" 2>&1
# The prefix's services, started by the first program that runs, would inherit its output and
# keep it open after it ends, and ctest would wait for that first test binary until its time-out.
# They are started here instead, with their output going to a log, and stay with the server.
"$wine" cmd /c exit 0 </dev/null >"$work/services.log" 2>&1
phase_done line

# --- The tests: every binary whole under Wine; the line tests on COM1. Their whole output is
# kept in ci-artifacts/wine-tests.log. ---
mkdir -p "$artifacts"
status=0
KEST_TEST_COM_PORT=1 KEST_TEST_SIM_AFR=$afr KEST_TEST_COM_IS_PTY=1 \
  ctest --test-dir "$cross" -V --no-tests=error --timeout 300 >"$artifacts/wine-tests.log" 2>&1 ||
  status=$?
if (( status != 0 )); then
  grep -E -B 30 '^\[  FAILED  \]|\*\*\*(Failed|Exception|Timeout)' "$artifacts/wine-tests.log" >&2 || true
fi
grep -E '^ *[0-9]+/[0-9]+ Test|tests passed|^[0-9]+: \[  (PASSED|SKIPPED) ' "$artifacts/wine-tests.log" || true

"$wineserver" -k >/dev/null 2>&1 || true
phase_done tests

# --- End to end: the programs a user runs, on the simulator's COM1. ---
programs=$KEST_WINDOWS_BIN
# The server is started again for a display: Wine's desktop process takes its display when the
# prefix starts. The simulator keeps its end of the line open meanwhile.
display_number=$((90 + RANDOM % 100))
Xvfb ":$display_number" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
x_pids+=($!)
export DISPLAY=":$display_number"
for _ in $(seq 100); do xprop -root >/dev/null 2>&1 && break; sleep 0.1; done
openbox >"$work/openbox.log" 2>&1 &
x_pids+=($!)
for _ in $(seq 100); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done
"$wineserver" -p >>"$work/wineserver.log" 2>&1
"$wine" cmd /c exit 0 </dev/null >>"$work/services.log" 2>&1

# The window: open on COM1, with the simulator's mixture in its title while another program is in
# front, as a task bar shows it.
expected_reading=$(awk -v a="$afr" 'BEGIN { printf "%.1f", a / 10 }')
title_of() { xprop -id "$1" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p'; }
"$wine" "$programs/kestlsugraph.exe" </dev/null >"$work/kestlsugraph.log" 2>&1 &
gui_pid=$!
caption="Torvane LSU4 KEST INTERFACE"
main=$(timeout 60 xdotool search --sync --name "^$caption\$" | head -n 1) || true
if [[ -z $main ]]; then
  echo "ci-wine.sh: kestlsugraph.exe showed no window" >&2
  status=1
else
  xmessage -name kest-other -geometry +600+500 "another program" &
  x_pids+=($!)
  other=$(timeout 10 xdotool search --sync --name "^kest-other\$" | head -n 1) || true
  # On a loaded machine Wine may still be bringing its own window forward when the other one is
  # first activated, so the other one is put in front again every two seconds until the title says
  # the window is in the background.
  title=""
  for attempt in $(seq 300); do
    if (( attempt % 20 == 1 )) && [[ -n $other ]]; then
      xdotool windowactivate "$other" 2>/dev/null || true
    fi
    title=$(title_of "$main")
    [[ $title == " AFR = $expected_reading" ]] && break
    sleep 0.1
  done
  echo "ci-wine.sh: kestlsugraph.exe behind another window: title \"$title\""
  if [[ $title != " AFR = $expected_reading" ]]; then
    echo "ci-wine.sh: the title does not show the simulator's reading $expected_reading" >&2
    status=1
  fi
  # In front again for the picture: the caption, the read-out and the status bar.
  xdotool windowactivate "$main" 2>/dev/null || true
  for _ in $(seq 50); do
    [[ $(title_of "$main") == "$caption" ]] && break
    sleep 0.1
  done
  sleep 1
  frame=$(xwininfo -id "$main" -children | sed -n 's/^  Parent window id: \(0x[0-9a-f]*\).*/\1/p')
  import -window "${frame:-root}" "$artifacts/windows-wine.png"
  echo "ci-wine.sh: screenshot in ci-artifacts/windows-wine.png"
fi
kill "$gui_pid" 2>/dev/null || true
"$wineserver" -k >/dev/null 2>&1 || true
wait "$gui_pid" 2>/dev/null || true
"$wineserver" -p >>"$work/wineserver.log" 2>&1

# kestlog: five seconds of rows from COM1. The first tick may come before the first answer (an
# offline row, as on every system); from the first live row on, every row is live with the
# simulator's reading.
log=$work/kestlog.csv
"$wine" "$programs/kestlog.exe" --port COM1 --seconds 5 --format extended --output "Z:$log" \
  </dev/null >"$work/kestlog.out" 2>&1 || { echo "ci-wine.sh: kestlog.exe failed" >&2; status=1; }
cat "$work/kestlog.out"
cp "$log" "$artifacts/kestlog-wine.csv" 2>/dev/null || true
read -r rows live not_live < <(tail -n +2 "$log" 2>/dev/null | tr -d '\r' |
  awk -F, -v r="$expected_reading" '
    $7 == "live" { seen = 1 }
    seen && $2 == r && $7 == "live" { live++ }
    seen && !($2 == r && $7 == "live") { bad++ }
    END { print NR + 0, live + 0, bad + 0 }')
echo "ci-wine.sh: kestlog.exe wrote $rows rows, $live live at $expected_reading, $not_live not live after the first live one"
if (( live == 0 || not_live > 0 )); then
  echo "ci-wine.sh: kestlog.exe's rows are not all live" >&2
  status=1
fi
"$wineserver" -k >/dev/null 2>&1 || true

kill -TERM "$sim_pid" 2>/dev/null || true
wait "$sim_pid" || true
sim_pid=""
summary=$(tail -n 1 "$work/kestsim.out")
echo "ci-wine.sh: simulator: $summary"
# Guards the runs on COM1 against passing without ever reaching the line (the line tests cannot
# skip themselves: KEST_TEST_COM_PORT names the line).
if [[ ! $summary =~ frames\ ([0-9]+) ]] || (( BASH_REMATCH[1] == 0 )); then
  echo "ci-wine.sh: the simulator sent no frame: the line tests did not reach COM1" >&2
  status=1
fi
phase_done "end to end"

summary=$(IFS=,; echo "${phases[*]}")
echo "ci-wine.sh: $((SECONDS - started)) s in all (${summary//,/, })"
exit "$status"
