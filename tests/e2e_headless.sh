#!/usr/bin/env bash
# End to end: the native program run headless from a folder holding only
# glimrotan.bmp, Escape scripted from poll N on, every frame captured. It
# must exit with code 0, print nothing, and present exactly N frames (the
# black one, then drawn frames 1 .. N-1); the frames are then judged by the
# DemoCaptures check in the test binary (black first frame, light only on
# the ring, the text turning one spoke a frame).
# Arguments: <binary dir> <source dir>.
set -uo pipefail

bin="$(cd "$1" && pwd)"
src="$(cd "$2" && pwd)"
frames=330  # past the two leading spaces, into "HI! EVERY"

fail() { echo "e2e_headless: FAIL: $*" >&2; exit 1; }

[ -x "$bin/ringscroller" ] || fail "no program at $bin/ringscroller"
[ -x "$bin/ringscroller-tests" ] || fail "no test binary at $bin/ringscroller-tests"
bmp="$bin/glimrotan.bmp"
[ -f "$bmp" ] || bmp="$src/assets/glimrotan.bmp"
[ -f "$bmp" ] || fail "no glimrotan.bmp"

work="$(mktemp -d /tmp/ringscroller-e2e.XXXXXX)"
trap 'rm -rf "$work"' EXIT
cp "$bmp" "$work/glimrotan.bmp"

# Under the sanitizer build, leave out what the program keeps for its life.
export LSAN_OPTIONS="suppressions=$src/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
cd "$work"
# Ctrl-C and SIGTERM end the program through its normal shutdown at any
# moment, start-up included: as soon as it has loaded (its handler shows in
# /proc), and while it is setting up its glyphs (its font file is mapped),
# well before its first frame. Only the loader's own few ms come earlier.
started() {  # pid signal moment
  # Before exec, /proc shows the shell's child and its handlers.
  [ "/proc/$1/exe" -ef "$bin/ringscroller" ] || return 1
  case "$3" in
    caught) [ $(( 0x$(awk '/^SigCgt/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0) >> ($2 - 1) & 1 )) -eq 1 ] ;;
    font) grep -qi '\.[ot]tf$' "/proc/$1/maps" 2>/dev/null ;;
  esac
}
for moment in TERM:caught INT:caught TERM:font INT:font; do
  signal=${moment%%:*}
  RINGSCROLLER_DISPLAY=headless RINGSCROLLER_ESCAPE_AFTER=1000000 "$bin/ringscroller" >/dev/null 2>&1 &
  pid=$!
  until started "$pid" "$(kill -l "$signal")" "${moment#*:}" || ! kill -0 "$pid" 2>/dev/null; do :; done
  kill -s "$signal" "$pid"
  wait "$pid"
  code=$?
  [ "$code" -eq 0 ] || fail "SIG$moment: exit code $code, expected 0"
done

env -u DISPLAY -u WAYLAND_DISPLAY \
  RINGSCROLLER_DISPLAY=headless RINGSCROLLER_ESCAPE_AFTER=$frames RINGSCROLLER_CAPTURE="$work/frames" \
  timeout 300 "$bin/ringscroller" >"$work/stdout" 2>"$work/stderr"
code=$?
[ "$code" -eq 0 ] || { cat "$work/stderr" >&2; fail "exit code $code, expected 0"; }
[ ! -s "$work/stdout" ] || fail "the program wrote to standard output: $(head -c 200 "$work/stdout")"
count=$(find "$work/frames" -name 'frame-*.png' | wc -l)
[ "$count" -eq "$frames" ] || fail "$count frames presented, expected $frames"

RINGSCROLLER_E2E_DIR="$work/frames" RINGSCROLLER_E2E_FRAMES=$frames \
  "$bin/ringscroller-tests" --gtest_filter='DemoCaptures.*' >"$work/check" 2>&1
code=$?
cat "$work/check"
[ "$code" -eq 0 ] || fail "the frames do not look as the demo must"
grep -q '^\[  PASSED  \] 1 test' "$work/check" || fail "the frame check did not run"
grep -q 'SKIPPED' "$work/check" && fail "the frame check was skipped"
echo "e2e_headless: PASS ($frames frames)"
