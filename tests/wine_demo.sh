#!/usr/bin/env bash
# The 64-bit Windows program under Wine, in a 640 x 480 x 16 Xvfb screen: it
# must open its full-screen display and draw what the native program draws,
# and end with exit code 0 when Escape is held. The Wine prefix is given the
# native build's face for "Arial Black" (Lato Black), and each screenshot is
# matched against the native headless capture of one whole pass of the text:
# the best native frame's lit pixels must overlap the shot's at 0.98 or more
# (intersection over union). Where Wine cannot run this test fails; it never
# skips.
#
# Arguments (as for every script test): <binary dir> <source dir>.
# build/win64/ringscroller.exe must already be built (scripts/test does it).
# RINGSCROLLER_WINE_EXE names another .exe to check instead.
# RINGSCROLLER_WINE_KEEP names a folder that receives the screenshots.
set -u

binary_dir=$(cd "$1" && pwd)
source_dir=${2:-$(cd "$(dirname "$0")/.." && pwd)}
exe=${RINGSCROLLER_WINE_EXE:-$source_dir/build/win64/ringscroller.exe}
bitmap=$source_dir/assets/glimrotan.bmp
min_overlap=0.98
shots_wanted=3

note() { echo "wine_demo: $*" >&2; }
fail() { echo "wine_demo: FAIL: $*" >&2; exit 1; }

[ -f "$exe" ] || fail "$exe is missing; build it first (cmake --preset win64 && cmake --build build/win64)"
[ -f "$bitmap" ] || fail "$bitmap is missing"

# Debian's wine64 package installs the 64-bit loader at /usr/lib/wine/wine64;
# the `wine` wrapper falls back to it when there is no 32-bit Wine.
wine=""
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)" "$(command -v wine 2>/dev/null)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then wine=$candidate; break; fi
done
[ -n "$wine" ] || fail "no Wine found (install wine64 and wine: scripts/setup)"
wineserver=""
for candidate in /usr/lib/wine/wineserver64 "$(command -v wineserver 2>/dev/null)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then wineserver=$candidate; break; fi
done
[ -n "$wineserver" ] || fail "no wineserver found"
[ -x "$binary_dir/ringscroller" ] || fail "no native program at $binary_dir/ringscroller"
for tool in Xvfb xdotool import convert /usr/bin/python3 timeout; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup installs it)"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ringscroller-wine.XXXXXX") || fail "no temporary folder"
xvfb_pid="" program_pid=""
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINELOADER=$wine WINESERVER=$wineserver

cleanup() {
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then kill "$program_pid" 2>/dev/null; fi
  if [ -d "$WINEPREFIX" ]; then timeout 20 "$wineserver" -k >/dev/null 2>&1; fi
  if [ -n "$program_pid" ]; then wait "$program_pid" 2>/dev/null; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Every wait below is bounded, and all of them together by this deadline.
started=$SECONDS
deadline=$((SECONDS + 240))
remaining() { local left=$((deadline - SECONDS)); [ "$left" -gt 1 ] && echo "$left" || echo 1; }
in_time() { [ "$SECONDS" -lt "$deadline" ]; }

# Xvfb chooses a free display itself and writes its number to the given fd.
# 16 bits deep so that the program's 640 x 480 x 16 display mode can be set.
Xvfb -displayfd 3 -screen 0 640x480x16 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$(head -n1 "$work/display")

# A fresh prefix each run, so nothing from an earlier run or the user's own
# Wine set-up can change the outcome.
timeout 100 "$wine" wineboot -i >"$work/wineboot.log" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "wineboot -i failed with $status: $(tail -n5 "$work/wineboot.log")"
# The face the native build draws "Arial Black" with.
timeout 30 "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
  /v "Arial Black" /t REG_SZ /d "Lato Black" /f >>"$work/wineboot.log" 2>&1 || fail "cannot set the font substitute"
timeout "$(remaining)" "$wineserver" -w
note "prefix ready after $((SECONDS - started)) s"

# The native frames of one whole pass of the text: the scroll repeats after
# it, so any moment of the Wine run shows one of them.
mkdir -p "$work/native"
(cd "$work/native" && cp "$bitmap" . && env -u DISPLAY RINGSCROLLER_DISPLAY=headless RINGSCROLLER_ESCAPE_AFTER=2400 \
  RINGSCROLLER_CAPTURE="$work/native/frames" timeout 300 "$binary_dir/ringscroller") ||
  fail "the native program did not make its frames"

# The program reads glimrotan.bmp from its current folder.
mkdir -p "$work/run"
cp "$exe" "$work/run/ringscroller.exe"
cp "$bitmap" "$work/run/glimrotan.bmp"
(cd "$work/run" && exec timeout "$(remaining)" "$wine" ringscroller.exe) >"$work/program.log" 2>&1 &
program_pid=$!

# Wine names the X window's class after the .exe.
find_window() { xdotool search --onlyvisible --classname 'ringscroller.exe' 2>/dev/null | tail -n1; }
window=""
while in_time; do
  window=$(find_window)
  [ -n "$window" ] && break
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.5
done
if [ -z "$window" ]; then
  if kill -0 "$program_pid" 2>/dev/null; then fail "no window appeared in time"; fi
  wait "$program_pid"; status=$?; program_pid=""
  fail "the program ended (exit code $status) without showing its window: $(tail -n5 "$work/program.log")"
fi
note "window $window on $DISPLAY after $((SECONDS - started)) s"

# The ring fills as the text scrolls in (after the leading spaces), so take
# shots until a few show it, keeping time for Escape at the end.
sleep 3
shots=()
for attempt in $(seq 1 30); do
  kill -0 "$program_pid" 2>/dev/null || break
  [ "$SECONDS" -lt $((deadline - 60)) ] || break
  shot=$work/shot$attempt.png
  timeout 10 import -display "$DISPLAY" -window root "PNG24:$shot" 2>>"$work/import.log" || { sleep 1; continue; }
  lit=$(convert "$shot" -colorspace Gray -threshold 10% -format '%[fx:int(mean*w*h)]' info:)
  note "shot $attempt: $lit lit pixels"
  if [ "${lit:-0}" -ge 2000 ]; then shots+=("$shot"); fi
  [ "${#shots[@]}" -ge "$shots_wanted" ] && break
  sleep 1
done
if [ -n "${RINGSCROLLER_WINE_KEEP:-}" ]; then mkdir -p "$RINGSCROLLER_WINE_KEEP" && cp "$work"/shot*.png "$RINGSCROLLER_WINE_KEEP/"; fi
if [ "${#shots[@]}" -eq 0 ]; then
  kill -0 "$program_pid" 2>/dev/null || fail "the program ended before the ring was seen: $(tail -n5 "$work/program.log")"
  fail "the ring never showed (Direct3D under Wine needs OpenGL in Xvfb: Mesa's libgl1-mesa-dri)"
fi
# Escape, with the keyboard focus on the program's window. DirectInput reads
# the key's state once a frame, so hold it down until the program has ended
# (or a few seconds have passed), not just a tap.
ended=0
for attempt in $(seq 1 5); do
  kill -0 "$program_pid" 2>/dev/null || { ended=1; break; }
  window=$(find_window)
  [ -n "$window" ] && timeout 5 xdotool windowfocus --sync "$window" >/dev/null 2>&1
  timeout 5 xdotool keydown Escape
  for _ in $(seq 1 12); do
    kill -0 "$program_pid" 2>/dev/null || { ended=1; break; }
    sleep 0.3
  done
  timeout 5 xdotool keyup Escape
  [ "$ended" -eq 1 ] && break
  sleep 0.5
done
[ "$ended" -eq 1 ] || fail "the program did not end on Escape"
wait "$program_pid"
status=$?
program_pid=""
[ "$status" -eq 0 ] || fail "the program ended with exit code $status, not 0: $(tail -n5 "$work/program.log")"

/usr/bin/python3 "$source_dir/tests/lit_overlap.py" --min "$min_overlap" "${shots[@]}" --against "$work/native/frames" \
  >"$work/overlap" 2>&1
overlap=$?
while read -r line; do note "overlap with the native frames: $line"; done <"$work/overlap"
[ "$overlap" -eq 0 ] || fail "a Wine screenshot differs from every native frame (needs $min_overlap)"
note "passed in $((SECONDS - started)) s"
