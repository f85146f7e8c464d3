#!/usr/bin/env bash
# End to end: the native program headless, from a folder holding only glimrotan.bmp, through
# one whole pass of the text and past its wrap, Escape scripted from poll N on, every 10th frame
# captured. It must exit with code 0, print nothing, and show the reference frames
# (tests/frames.ref) pixel for pixel, N/10 of them. The references were made from a run whose
# frames were looked at ("HI! EVERYBODY, ..." round the ring, upright, in order); after an
# intended change of what the demo shows, look at the new frames, then write new references:
#   RINGSCROLLER_E2E_WRITE=1 ctest --preset release -R e2e_headless
# RINGSCROLLER_E2E_KEEP=<folder> keeps the captured frames. Also: Ctrl-C and SIGTERM during
# start-up, and a glimrotan.bmp that is a FIFO.
set -uo pipefail
name=e2e_headless
source "$(dirname "$0")/helpers.bash"
need_program
frames=2500  # one pass is 91 characters of 26 columns; the text wraps at 2367
refs="$src/tests/frames.ref"
# Under the sanitizer build, leave out what the program keeps for its life.
export LSAN_OPTIONS="suppressions=$src/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
cd "$work" || fail "no work folder"

# Ctrl-C and SIGTERM end the program through its normal shutdown at any moment of start-up: as
# soon as it has loaded (its handler shows in /proc), and while it sets up its glyphs (its font
# file is mapped), well before its first frame. Only the loader's own few ms come earlier.
at() {  # PID SIGNAL MOMENT; before exec, /proc shows the shell's child
  [ "/proc/$1/exe" -ef "$bin/ringscroller" ] || return 1
  case $3 in
    caught) [ $(( 0x$(awk '/^SigCgt/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0) >> ($2 - 1) & 1 )) -eq 1 ] ;;
    font) grep -qi '\.[ot]tf$' "/proc/$1/maps" 2>/dev/null ;;
  esac
}
for moment in TERM:caught INT:caught TERM:font INT:font; do
  signal=${moment%%:*}
  RINGSCROLLER_DISPLAY=headless RINGSCROLLER_ESCAPE_AFTER=1000000 "$bin/ringscroller" >/dev/null 2>&1 &
  demo_pid=$! code="" limit=$((SECONDS + 10))
  until at "$demo_pid" "$(kill -l "$signal")" "${moment#*:}" || ! kill -0 "$demo_pid" || [ "$SECONDS" -gt "$limit" ]; do :; done 2>/dev/null
  kill -s "$signal" "$demo_pid"
  wait_for 10 ended && [ "$code" -eq 0 ] || fail "SIG$moment: exit code ${code:-none in 10 s}, expected 0"
done

# A glimrotan.bmp that is a FIFO with no writer is no picture: the program must not wait on it
# but run on without its sprite.
mkdir fifo && mkfifo fifo/glimrotan.bmp
(cd fifo && RINGSCROLLER_DISPLAY=headless RINGSCROLLER_ESCAPE_AFTER=3 timeout -s KILL 20 "$bin/ringscroller" >/dev/null 2>&1) ||
  fail "with glimrotan.bmp a FIFO: exit code $?, expected 0 at once"

capture $frames "$work/frames" RINGSCROLLER_TRACE=1 RINGSCROLLER_CAPTURE_EVERY=10 ||
  fail "exit code $?, expected 0: $(tail -5 stderr)"
[ ! -s stdout ] || fail "the program wrote to standard output: $(head -c 200 stdout)"
# Headless is a machine without a sound card: the demo runs on without one.
grep -q 'DirectSoundCreate failed' stderr || fail "a headless run opened a sound device"
# The glyphs, and so every frame, depend on the face drawn for "Arial Black".
grep -q 'font "Arial Black".*Lato-Black\.ttf' stderr || fail "the reference frames were drawn with Lato Black \
(Debian's fonts-lato, installed by scripts/setup); here: $(grep -o 'font "Arial Black".*' stderr || echo no font)"

[ -n "${RINGSCROLLER_E2E_KEEP:-}" ] && cp -r frames/. "$RINGSCROLLER_E2E_KEEP/"
if [ -n "${RINGSCROLLER_E2E_WRITE:-}" ]; then
  /usr/bin/python3 "$src/tests/frames.py" write "$refs" frames || fail "cannot write $refs"
  note "wrote $refs"
else
  /usr/bin/python3 "$src/tests/frames.py" check "$refs" frames ||
    fail "the frames differ from the references (RINGSCROLLER_E2E_KEEP=<folder> keeps them to look at)"
  note "PASS ($frames frames)"
fi
