#!/usr/bin/env bash
# The program as a user meets it on a desktop: a real X server (Xvfb) with a real window manager
# (openbox), driven with xdotool and read back with xprop and wmctrl, the way a task bar reads it.
# Checks that the reading reaches the window title while another program is in front and that the
# caption comes back with the focus, and that the About windows neither offer nor keep the
# minimised or maximised state. Usage: DesktopTest.sh PATH/TO/kestlsugraph
set -euo pipefail
program="$1"
for tool in xvfb-run openbox xdotool wmctrl xprop xmessage xwininfo; do
  command -v "$tool" >/dev/null || { echo "DesktopTest: $tool is missing (scripts/setup.sh installs it)"; exit 1; }
done

if [[ -z "${KEST_DESKTOP_INNER:-}" ]]; then
  export KEST_DESKTOP_INNER=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

export QT_QPA_PLATFORM=xcb
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "DesktopTest: FAILED: $*" >&2
  echo "--- windows:" >&2; wmctrl -l >&2 || true
  echo "--- program output:" >&2; cat "$work/program.log" >&2 || true
  exit 1
}

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local seconds=$1; shift
  local end=$((SECONDS + seconds))
  until "$@"; do
    (( SECONDS < end )) || return 1
    sleep 0.1
  done
}

net_wm_name() { xprop -id "$1" _NET_WM_NAME | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p'; }
icon_name() { xprop -id "$1" _NET_WM_ICON_NAME | sed -n 's/^_NET_WM_ICON_NAME(UTF8_STRING) = "\(.*\)"$/\1/p'; }
title_is() { [[ "$(net_wm_name "$1")" == "$2" ]]; }
title_shows_reading() { [[ "$(net_wm_name "$1")" =~ ^\ AFR\ =\ [0-9]+\.[0-9]$ ]]; }
active_window() { xprop -root _NET_ACTIVE_WINDOW | sed -n 's/.*# \(0x[0-9a-f]*\).*/\1/p'; }
is_active() { (( $(active_window) == $1 )); }
wm_state() { xprop -id "$1" WM_STATE | sed -n 's/^[[:space:]]*window state: //p'; }
is_normal() { [[ "$(wm_state "$1")" == "Normal" ]]; }
not_maximised() { ! xprop -id "$1" _NET_WM_STATE | grep -q MAXIMIZED; }

openbox >/dev/null 2>&1 & pids+=($!)
wait_for 10 wmctrl -m >/dev/null 2>&1 || fail "the window manager did not start"

"$program" --demo >"$work/program.log" 2>&1 & pids+=($!)
caption="Torvane LSU4 KEST INTERFACE"
main=$(timeout 20 xdotool search --sync --name "^$caption\$" | head -n 1) || true
[[ -n $main ]] || fail "the main window did not appear"
echo "main window $main: _NET_WM_NAME \"$(net_wm_name "$main")\""

# Another program in front: the task bar must read the reading.
xmessage -name kest-other "another program" & pids+=($!)
other=$(timeout 10 xdotool search --sync --name "^kest-other\$" | head -n 1) || true
[[ -n $other ]] || fail "the other program's window did not appear"
xdotool windowactivate --sync "$other" || true
wait_for 5 is_active "$other" || fail "the other program did not get the focus"
wait_for 20 title_shows_reading "$main" \
  || fail "with another program in front the title reads \"$(net_wm_name "$main")\""
# Both follow every tick, so read them again if a tick fell between the two reads.
icon_is_title() { [[ "$(icon_name "$1")" == "$(net_wm_name "$1")" ]]; }
wait_for 2 icon_is_title "$main" || fail "the icon name \"$(icon_name "$main")\" is not the reading"
wmctrl -l | grep -q " AFR = " || fail "the window list does not show the reading"
echo "in the background: _NET_WM_NAME \"$(net_wm_name "$main")\", window list: $(wmctrl -l | grep ' AFR = ' | cut -c 15-)"

# Ours in front again: the caption comes back on the next watchdog tick.
xdotool windowactivate --sync "$main" || true
wait_for 5 is_active "$main" || fail "the main window did not get the focus back"
wait_for 5 title_is "$main" "$caption" || fail "in front again the title reads \"$(net_wm_name "$main")\""
[[ "$(icon_name "$main")" == "Torvane KEST" ]] || fail "the icon name is \"$(icon_name "$main")\""
echo "in front: _NET_WM_NAME \"$(net_wm_name "$main")\", _NET_WM_ICON_NAME \"$(icon_name "$main")\""

# Help > About Log to Disk, from the keyboard once the first menu is open.
geometry=$(xwininfo -id "$main")
x=$(awk '/Absolute upper-left X/{print $4}' <<<"$geometry")
y=$(awk '/Absolute upper-left Y/{print $4}' <<<"$geometry")
xdotool mousemove $((x + 30)) $((y + 9)) click 1
sleep 0.5
xdotool key Right Right Right Return
about=$(timeout 10 xdotool search --sync --name "^About log to disk\$" | head -n 1) || true
[[ -n $about ]] || fail "Help > About Log to Disk showed no window"
wait_for 5 is_normal "$about" || fail "the About window is not shown"

# The hint: functions and decorations without minimise (8, 32) and maximise (16, 64).
read -r _ functions decorations _ < <(xprop -id "$about" _MOTIF_WM_HINTS | sed 's/.*= //; s/,//g')
echo "About window $about: _MOTIF_WM_HINTS functions $functions, decorations $decorations"
(( functions & 0x20 )) || fail "the About window offers no close"
(( (functions & 0x18) == 0 && (decorations & 0x60) == 0 )) \
  || fail "the About window asks for minimise or maximise"

# A window manager that offers them anyway does not get to keep either state.
xdotool windowminimize "$about"
sleep 0.5
wait_for 5 is_normal "$about" || fail "the About window stayed minimised"
wmctrl -i -r "$about" -b add,maximized_vert,maximized_horz
sleep 0.5
wait_for 5 not_maximised "$about" || fail "the About window stayed maximised"
echo "About window after minimise and maximise: WM_STATE $(wm_state "$about"), not maximised"

# Closing hides it; the main window stays.
wmctrl -i -c "$about"
wait_for 5 bash -c "! xwininfo -id $about 2>/dev/null | grep -q 'Map State: IsViewable'" \
  || fail "closing did not hide the About window"
title_is "$main" "$caption" || wait_for 5 title_is "$main" "$caption" || fail "the main window lost its caption"
echo "DesktopTest: passed"
