#!/usr/bin/env bash
# The native program under a window manager (openbox), as on a desktop. Full
# screen: another window activated over it deactivates it (no frame presented
# while it is away) and activating it again brings the ring back, showing the
# program's own frames; minimised, it presents nothing and sleeps between the
# mode's ticks instead of spinning (its CPU time over a few seconds must stay
# well under a core), and restored, the ring comes back. The same minimise
# and restore in a window.
# Arguments: <binary dir> <source dir>. Fails (never skips) when a tool is
# missing: scripts/setup installs them.
set -uo pipefail

name=xvfb_openbox
bin="$(cd "$1" && pwd)"
src="$(cd "$2" && pwd)"
source "$src/tests/xvfb_helpers.bash"
size=1280x720
# While minimised the program only steps its unseen frames 60 times a second:
# measured 1 to 2 % of a core here; spinning took 96 to 100 %.
max_cpu_minimised=15

need_tools Xvfb openbox xdotool xwininfo xlogo import convert compare getconf /usr/bin/python3
[ -x "$bin/ringscroller" ] || fail "no program at $bin/ringscroller"
bmp="$bin/glimrotan.bmp"
[ -f "$bmp" ] || bmp="$src/assets/glimrotan.bmp"
[ -f "$bmp" ] || fail "no glimrotan.bmp"
cp "$bmp" "$work/glimrotan.bmp"

start_xvfb "$size"
HOME="$work" openbox --sm-disable >"$work/openbox.log" 2>&1 &
started+=("$!")
for _ in $(seq 50); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' || fail "openbox did not start: $(cat "$work/openbox.log")"

# minimised_then_restored LABEL: minimised, nothing is presented and the CPU
# stays low; restored, the program's frames are back.
minimised_then_restored() {
  xdo windowminimize --sync "$window" || fail "$1: cannot minimise the window"
  presents_nothing "$1, minimised"
  local cpu
  cpu=$(cpu_share 3)
  [ "$cpu" -lt "$max_cpu_minimised" ] || fail "$1: $cpu % of a core while minimised, need under $max_cpu_minimised %"
  echo "$name: $1, minimised: $cpu % of a core"
  xdo windowactivate --sync "$window" || fail "$1: cannot restore the window"
  shows_own_frames "$1, restored"
}

start_demo fullscreen
shows_own_frames "fullscreen"
start_other_client
xdo windowactivate --sync "$other" || fail "cannot activate xlogo"
presents_nothing "fullscreen, another window active"
xdo windowactivate --sync "$window" || fail "cannot activate the program again"
stop_other_client
shows_own_frames "fullscreen, active again"
minimised_then_restored "fullscreen"
end_with_escape "fullscreen"

start_demo window
shows_own_frames "window"
minimised_then_restored "window"
end_with_escape "window"
