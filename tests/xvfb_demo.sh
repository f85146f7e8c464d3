#!/usr/bin/env bash
# The native program in a real X server with no window manager (a kiosk, a
# recording), on a desktop that is not 640 x 480, full screen and then in a
# window: the full-screen window must cover the screen, the plain one hold the
# whole picture; each must show the demo's own frames scaled with the aspect
# kept (a screenshot of the window scaled back matches the program's capture
# of the same run), and a synthetic Escape key press must end the program
# with code 0.
#
# Another X client then takes the focus and gives it back. Full screen, that
# deactivates the program: no frame is presented until it has the focus again,
# and then the ring must come back, showing the program's frames. A window
# stays in front without the focus: its frames go on, but its keyboard is not
# read.
# Arguments: <binary dir> <source dir>. Fails (never skips) when a tool is
# missing: scripts/setup installs them.
set -uo pipefail

name=xvfb_demo
bin="$(cd "$1" && pwd)"
src="$(cd "$2" && pwd)"
source "$src/tests/xvfb_helpers.bash"
size=1280x720

need_tools Xvfb xdotool xwininfo xlogo import convert compare /usr/bin/python3
[ -x "$bin/ringscroller" ] || fail "no program at $bin/ringscroller"
bmp="$bin/glimrotan.bmp"
[ -f "$bmp" ] || bmp="$src/assets/glimrotan.bmp"
[ -f "$bmp" ] || fail "no glimrotan.bmp"
cp "$bmp" "$work/glimrotan.bmp"

start_xvfb "$size"

# Full screen: covers the screen; focus away deactivates, back restores.
start_demo fullscreen
geometry=$(window_geometry)
[ "$geometry" = "$size+0+0" ] || fail "the full-screen window is $geometry, expected $size+0+0"
shows_own_frames "fullscreen"
start_other_client
xdo windowfocus --sync "$other" || fail "cannot give xlogo the focus"
presents_nothing "fullscreen, focus on another client"
xdo windowfocus --sync "$window" || fail "cannot give the program the focus back"
stop_other_client
shows_own_frames "fullscreen, focus back"
end_with_escape "fullscreen"

# A window: holds the whole picture; without the focus it goes on showing
# frames, and its keyboard reads fail (the trace says so) until it is back.
start_demo window RINGSCROLLER_TRACE=1
geometry=$(window_geometry)
[ "${geometry%%x*}" -ge 640 ] && [ "$(echo "$geometry" | cut -dx -f2 | cut -d+ -f1)" -ge 480 ] ||
  fail "the window is $geometry, smaller than the picture"
shows_own_frames "window"
refused() { grep -c 'GetDeviceState failed' "$work/stderr"; }
before=$(refused)
start_other_client
xdo windowfocus --sync "$other" || fail "cannot give xlogo the focus"
sleep 0.3
shown=$(frames_while "window without the focus" 1)
[ "$shown" -ge 20 ] || fail "the window presented $shown frames in a second without the focus"
timeout 10 import -window root "$work/shot1.png" 2>/dev/null || fail "cannot take a screenshot"
sleep 0.3
timeout 10 import -window root "$work/shot2.png" 2>/dev/null || fail "cannot take a screenshot"
changed=$(compare -metric AE "$work/shot1.png" "$work/shot2.png" null: 2>&1 | cut -d' ' -f1)
[ "${changed%.*}" -gt 100 ] 2>/dev/null || fail "the unfocused window's picture did not move"
without=$(refused)
[ $((without - before)) -ge 20 ] || fail "the keyboard was read without the focus ($((without - before)) refused reads)"
xdo windowfocus --sync "$window" || fail "cannot give the program the focus back"
sleep 0.3
back=$(refused)
sleep 1
[ "$(refused)" -eq "$back" ] || fail "the keyboard still cannot read with the focus back"
echo "$name: window without the focus: $shown frames in a second, $((without - before)) keyboard reads refused"
stop_other_client
shows_own_frames "window, focus back"
end_with_escape "window"
