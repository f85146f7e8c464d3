#!/usr/bin/env bash
# The native program in a real X server with no window manager (a kiosk, a recording), on a
# 1280 x 720 desktop, full screen and then in a window: the full-screen window covers the
# screen, the plain one holds the whole picture, each shows the program's own frames scaled
# with the aspect kept, and Escape ends it with code 0. Another X client takes the focus and
# gives it back: full screen, that deactivates the program (no frame presented) until the ring
# comes back; a window stays in front without the focus, its frames go on and only its keyboard
# goes unread. Fails (never skips) when a tool is missing.
set -uo pipefail
name=xvfb_demo
source "$(dirname "$0")/helpers.bash"
need Xvfb xdotool xwininfo xlogo import convert compare /usr/bin/python3
need_program
start_xvfb 1280x720x24

start_demo fullscreen
[ "$geometry" = 1280x720+0+0 ] || fail "the full-screen window is $geometry, not the whole screen"
shows_own_frames fullscreen
focus_away windowfocus
presents_nothing "fullscreen, focus on another client"
focus_back windowfocus
shows_own_frames "fullscreen, focus back"
end_with_escape fullscreen

# The keyboard's reads fail without the focus; the trace says so.
start_demo window RINGSCROLLER_TRACE=1
size=${geometry%%+*}
[ "${size%x*}" -ge 640 ] && [ "${size#*x}" -ge 480 ] || fail "the window is $geometry, smaller than the picture"
shows_own_frames window
refused() { grep -c 'GetDeviceState failed' "$work/stderr"; }
before=$(refused)
focus_away windowfocus
sleep 0.3
shown=$(frames_while 1)
[ "$shown" -ge 20 ] || fail "the window presented $shown frames in a second without the focus"
shows_own_frames "window without the focus"
unread=$(($(refused) - before))
[ "$unread" -ge 20 ] || fail "the keyboard was read without the focus ($unread reads refused)"
note "window without the focus: $shown frames in a second, $unread keyboard reads refused"
focus_back windowfocus
sleep 0.3
back=$(refused)
sleep 1
[ "$(refused)" -eq "$back" ] || fail "the keyboard still cannot read with the focus back"
shows_own_frames "window, focus back"
end_with_escape window
