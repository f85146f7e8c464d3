#!/usr/bin/env bash
# A real window under Xvfb: the screen opens in window mode, its frames reach
# the X server, and a screenshot shows the colour the test cleared to.
# Usage: xvfb_window.sh <binary_dir> <source_dir>
set -uo pipefail

bin_dir="$1"
tests="$bin_dir/ringscroller-tests"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

[ -x "$tests" ] || fail "no test program at $tests"
for tool in Xvfb xwininfo import convert; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is not installed"
done

work="$(mktemp -d)"
xvfb_pid=""
test_pid=""
cleanup() {
    [ -n "$test_pid" ] && kill "$test_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    [ -n "$test_pid" ] && wait "$test_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number once it accepts
# connections.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not report a display"
display=":$(head -n1 "$work/display")"
echo "Xvfb on $display"

# X and SDL keep a few allocations to process exit; a sanitizer build must
# not count those as the test's leaks.
DISPLAY="$display" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" RINGSCROLLER_XVFB_TEST=1 RINGSCROLLER_XVFB_STOP="$work/stop" RINGSCROLLER_TRACE=1 \
    timeout 60 "$tests" --gtest_filter='ScreenHost.XvfbWindowShowsFrames' >"$work/test.log" 2>&1 &
test_pid=$!

found=""
for _ in $(seq 1 150); do
    if xwininfo -display "$display" -name ringscroller >"$work/window.txt" 2>/dev/null; then
        found=1
        break
    fi
    kill -0 "$test_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$found" ]; then
    cat "$work/test.log" >&2
    fail "no window named ringscroller appeared"
fi
cat "$work/window.txt"

x=$(awk '/Absolute upper-left X/ {print $NF}' "$work/window.txt")
y=$(awk '/Absolute upper-left Y/ {print $NF}' "$work/window.txt")
w=$(awk '/Width:/ {print $NF}' "$work/window.txt")
h=$(awk '/Height:/ {print $NF}' "$work/window.txt")
[ "${w:-0}" -ge 640 ] && [ "${h:-0}" -ge 480 ] || fail "window is ${w}x${h}, expected at least 640x480"

# Give the frames a moment to reach the server, then look at the middle.
colour=""
for _ in $(seq 1 30); do
    sleep 0.2
    import -display "$display" -window root "$work/shot.png" 2>/dev/null || continue
    cx=$((x + w / 2))
    cy=$((y + h / 2))
    colour=$(convert "$work/shot.png" -format "%[fx:int(255*p{$cx,$cy}.r)],%[fx:int(255*p{$cx,$cy}.g)],%[fx:int(255*p{$cx,$cy}.b)]" info:)
    [ "$colour" = "0,255,0" ] && break
done
[ -n "${RINGSCROLLER_XVFB_SHOT:-}" ] && cp "$work/shot.png" "$RINGSCROLLER_XVFB_SHOT"
[ "$colour" = "0,255,0" ] || { cat "$work/test.log" >&2; fail "window centre shows $colour, expected the cleared green"; }

touch "$work/stop"
wait "$test_pid"
status=$?
test_pid=""
cat "$work/test.log"
[ "$status" -eq 0 ] || fail "the window test failed (exit $status)"
grep -q '\[  PASSED  \] 1 test' "$work/test.log" || fail "the window test did not run (skipped?)"
echo "xvfb window: frames shown, centre pixel $colour"
