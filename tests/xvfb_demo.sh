#!/usr/bin/env bash
# The native program in a real X server with no window manager (a kiosk, a
# recording), on a desktop that is not 640 x 480, full screen and then in a
# window: the full-screen window must cover the screen, the plain one hold the
# whole picture; each must show the demo's own frames scaled with the aspect
# kept (a screenshot of the window scaled back matches the program's capture
# of the same run), and a synthetic Escape key press must end the program
# with code 0.
# Arguments: <binary dir> <source dir>. Fails (never skips) when a tool is
# missing: scripts/setup installs them.
set -uo pipefail

bin="$(cd "$1" && pwd)"
src="$(cd "$2" && pwd)"
size=1280x720
# A screenshot scaled back to 640 x 480 measured 0.988 to 0.990 against the
# frame it shows (scaling by 1.5 and back moves the sprites' faint edges);
# a blank or clipped screen scores near 0.
min_overlap=0.97

fail() { echo "xvfb_demo: FAIL: $*" >&2; exit 1; }

for tool in Xvfb xdotool xwininfo import convert compare /usr/bin/python3; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (run scripts/setup)"
done
[ -x "$bin/ringscroller" ] || fail "no program at $bin/ringscroller"
bmp="$bin/glimrotan.bmp"
[ -f "$bmp" ] || bmp="$src/assets/glimrotan.bmp"
[ -f "$bmp" ] || fail "no glimrotan.bmp"

work="$(mktemp -d /tmp/ringscroller-xvfb.XXXXXX)"
xvfb_pid=""
demo_pid=""
cleanup() {
  [ -n "$demo_pid" ] && kill -KILL "$demo_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cp "$bmp" "$work/glimrotan.bmp"

# Xvfb picks a free display itself and writes its number once it accepts
# connections.
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb ended: $(cat "$work/xvfb.log")"
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not report a display"
export DISPLAY=":$(head -n1 "$work/display")"

# Under the sanitizer build, invalid accesses still fail this run, but leaks
# are judged by the headless run (e2e_headless): here the X11 and D-Bus
# modules SDL loads and unloads again leave blocks no stack can name.
export LSAN_OPTIONS="detect_leaks=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
cd "$work"
unset WAYLAND_DISPLAY
for mode in fullscreen window; do
rm -rf "$work/frames"
RINGSCROLLER_DISPLAY=$mode RINGSCROLLER_CAPTURE="$work/frames" SDL_AUDIODRIVER=dummy \
  "$bin/ringscroller" >"$work/stdout" 2>"$work/stderr" &
demo_pid=$!

window="$(timeout 20 xdotool search --sync --onlyvisible --pid "$demo_pid" 2>/dev/null | head -1)"
[ -n "$window" ] || fail "no window appeared in 20 s: $(cat "$work/stderr")"
xwininfo -id "$window" >"$work/wininfo" 2>&1 || fail "xwininfo cannot see window $window"
geometry=$(awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
                /Width:/ {w=$NF} /Height:/ {h=$NF} END {print w "x" h "+" x "+" y}' "$work/wininfo")
case $mode in
  fullscreen) [ "$geometry" = "$size+0+0" ] || fail "the full-screen window is $geometry, expected $size+0+0" ;;
  window) [ "${geometry%%x*}" -ge 640 ] && [ "$(echo "$geometry" | cut -dx -f2 | cut -d+ -f1)" -ge 480 ] ||
    fail "the window is $geometry, smaller than the picture" ;;
esac

# The text reaches the ring after the two leading spaces (52 frames); wait
# for light, bounded.
lit=0
for _ in $(seq 60); do
  kill -0 "$demo_pid" 2>/dev/null || fail "the program ended before Escape ($mode)"
  import -window root "$work/shot1.png" 2>/dev/null || fail "cannot take a screenshot"
  lit=$(convert "$work/shot1.png" -colorspace Gray -threshold 1% -format '%[fx:int(mean*w*h)]' info:)
  [ "${lit:-0}" -gt 2000 ] && break
  sleep 0.5
done
[ "${lit:-0}" -gt 2000 ] || fail "no lit pixels on the screen after 30 s"
sleep 0.5
import -window root "$work/shot2.png" 2>/dev/null || fail "cannot take a screenshot"
changed=$(compare -metric AE "$work/shot1.png" "$work/shot2.png" null: 2>&1 | cut -d' ' -f1)
[ "${changed%.*}" -gt 100 ] 2>/dev/null || fail "the picture did not move (changed pixels: $changed)"
convert "$work/shot2.png" -crop "$geometry" +repage "$work/window.png"
[ -n "${RINGSCROLLER_XVFB_SHOT:-}" ] && cp "$work/window.png" "$RINGSCROLLER_XVFB_SHOT-$mode.png"

# Escape, typed into the focused window through XTEST.
xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool keydown Escape; sleep 0.3; xdotool keyup Escape

code=""
for _ in $(seq 100); do
  if ! kill -0 "$demo_pid" 2>/dev/null; then
    wait "$demo_pid"; code=$?; demo_pid=""; break
  fi
  sleep 0.1
done
[ -n "$code" ] || fail "Escape did not end the program within 10 s"
[ "$code" -eq 0 ] || fail "$mode: exit code $code, expected 0: $(cat "$work/stderr")"

# The screen showed one of the frames the program presented.
overlap=$(/usr/bin/python3 "$src/tests/lit_overlap.py" "$work/window.png" "$work/frames" --min "$min_overlap") ||
  fail "the $mode window does not show the program's frames: best overlap $overlap, need $min_overlap"
echo "xvfb_demo: $mode $geometry, $lit lit pixels, $changed changed, overlap $overlap"
done
