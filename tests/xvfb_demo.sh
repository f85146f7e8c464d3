#!/usr/bin/env bash
# The native program in a real X server: RINGSCROLLER_DISPLAY=window in an
# Xvfb screen. The window must appear, show lit and moving frames, and a
# synthetic Escape key press must end the program with code 0.
# Arguments: <binary dir> <source dir>. Fails (never skips) when a tool is
# missing: scripts/setup installs them.
set -uo pipefail

bin="$(cd "$1" && pwd)"
src="$(cd "$2" && pwd)"

fail() { echo "xvfb_demo: FAIL: $*" >&2; exit 1; }

for tool in Xvfb xdotool xwininfo import convert compare; do
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

# A display number nobody uses.
number=""
for n in $(seq 91 140); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then number=$n; break; fi
done
[ -n "$number" ] || fail "no free X display number"
Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$number"
for _ in $(seq 100); do
  xwininfo -root >/dev/null 2>&1 && break
  kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb ended: $(cat "$work/xvfb.log")"
  sleep 0.1
done
xwininfo -root >/dev/null 2>&1 || fail "Xvfb did not start on $DISPLAY"

# Under the sanitizer build, invalid accesses still fail this run, but leaks
# are judged by the headless run (e2e_headless): here the X11 and D-Bus
# modules SDL loads and unloads again leave blocks no stack can name.
export LSAN_OPTIONS="detect_leaks=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
cd "$work"
unset WAYLAND_DISPLAY
RINGSCROLLER_DISPLAY=window SDL_AUDIODRIVER=dummy "$bin/ringscroller" >"$work/stdout" 2>"$work/stderr" &
demo_pid=$!

window="$(timeout 20 xdotool search --sync --onlyvisible --pid "$demo_pid" 2>/dev/null | head -1)"
[ -n "$window" ] || fail "no window appeared in 20 s: $(cat "$work/stderr")"
xwininfo -id "$window" >"$work/wininfo" 2>&1 || fail "xwininfo cannot see window $window"
width=$(awk '/Width:/ {print $2}' "$work/wininfo")
[ "${width:-0}" -ge 640 ] || fail "window is ${width:-?} pixels wide, expected at least 640"

# The text reaches the ring after the two leading spaces (52 frames); wait
# for light, bounded.
lit=0
for _ in $(seq 60); do
  kill -0 "$demo_pid" 2>/dev/null || fail "the program ended before Escape"
  import -window root "$work/shot1.png" 2>/dev/null || fail "cannot take a screenshot"
  lit=$(convert "$work/shot1.png" -colorspace Gray -threshold 1% -format '%[fx:int(mean*w*h)]' info:)
  [ "${lit:-0}" -gt 500 ] && break
  sleep 0.5
done
[ "${lit:-0}" -gt 500 ] || fail "no lit pixels on the screen after 30 s"
sleep 0.5
import -window root "$work/shot2.png" 2>/dev/null || fail "cannot take a screenshot"
changed=$(compare -metric AE "$work/shot1.png" "$work/shot2.png" null: 2>&1 | cut -d' ' -f1)
[ "${changed%.*}" -gt 100 ] 2>/dev/null || fail "the picture did not move (changed pixels: $changed)"

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
[ "$code" -eq 0 ] || fail "exit code $code, expected 0: $(cat "$work/stderr")"
echo "xvfb_demo: PASS (window $window, $lit lit pixels, $changed changed)"
