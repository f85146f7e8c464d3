#!/usr/bin/env bash
# End to end: the native program run headless from a folder holding only
# glimrotan.bmp, through one whole pass of the text and past its wrap, with
# Escape scripted from poll N on and every 10th frame captured. It must exit
# with code 0, print nothing to standard output, present exactly N frames, and
# show the stored reference frames (tests/frames.ref) pixel for pixel.
#
# The references were made from a run whose frames were looked at: "HI!
# EVERYBODY, ..." round the ring, upright, in order. After an intended change
# of what the demo shows, look at the new frames, then write new references:
#   RINGSCROLLER_E2E_WRITE=1 ctest --preset release -R e2e_headless
# RINGSCROLLER_E2E_KEEP=<folder> keeps the captured frames.
# Arguments: <binary dir> <source dir>.
set -uo pipefail

bin="$(cd "$1" && pwd)"
src="$(cd "$2" && pwd)"
frames=2500  # one pass is 91 characters of 26 columns; the text wraps at 2367
every=10
refs="$src/tests/frames.ref"

fail() { echo "e2e_headless: FAIL: $*" >&2; exit 1; }

[ -x "$bin/ringscroller" ] || fail "no program at $bin/ringscroller"
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

# A glimrotan.bmp that is a FIFO with no writer is no picture: the program
# must not wait on it (nor on SIGTERM) but run on without its sprite.
mkdir "$work/fifo"
mkfifo "$work/fifo/glimrotan.bmp"
(cd "$work/fifo" && RINGSCROLLER_DISPLAY=headless RINGSCROLLER_ESCAPE_AFTER=3 timeout -s KILL 20 "$bin/ringscroller" \
  >/dev/null 2>&1)
code=$?
[ "$code" -eq 0 ] || fail "with glimrotan.bmp a FIFO: exit code $code, expected 0 at once"

env -u DISPLAY -u WAYLAND_DISPLAY RINGSCROLLER_TRACE=1 \
  RINGSCROLLER_DISPLAY=headless RINGSCROLLER_ESCAPE_AFTER=$frames \
  RINGSCROLLER_CAPTURE="$work/frames" RINGSCROLLER_CAPTURE_EVERY=$every \
  timeout 600 "$bin/ringscroller" >"$work/stdout" 2>"$work/stderr"
code=$?
[ "$code" -eq 0 ] || { cat "$work/stderr" >&2; fail "exit code $code, expected 0"; }
[ ! -s "$work/stdout" ] || fail "the program wrote to standard output: $(head -c 200 "$work/stdout")"
count=$(find "$work/frames" -name 'frame-*.png' | wc -l)
[ "$count" -eq $((frames / every)) ] || fail "$count frames captured, expected $((frames / every))"
[ -f "$work/frames/frame-$(printf %06d $((frames - every + 1))).png" ] || fail "the last frame was not presented"

# Headless is a machine without a sound card: the demo runs on without one.
grep -q 'DirectSoundCreate failed' "$work/stderr" || fail "a headless run opened a sound device"

# The glyphs, and so every frame, depend on the face drawn for "Arial Black".
font=$(grep -o 'font "Arial Black".*' "$work/stderr")
case "$font" in
  *Lato-Black.ttf*) ;;
  *) fail "the reference frames were drawn with Lato Black (Debian's fonts-lato, installed by scripts/setup); here \"Arial Black\" gave: ${font:-no font}" ;;
esac

[ -n "${RINGSCROLLER_E2E_KEEP:-}" ] && cp -r "$work/frames/." "$RINGSCROLLER_E2E_KEEP/"
if [ -n "${RINGSCROLLER_E2E_WRITE:-}" ]; then
  /usr/bin/python3 "$src/tests/frames.py" write "$refs" "$work/frames" || fail "cannot write $refs"
  echo "e2e_headless: wrote $refs"
  exit 0
fi
/usr/bin/python3 "$src/tests/frames.py" check "$refs" "$work/frames" ||
  fail "the frames differ from the references (RINGSCROLLER_E2E_KEEP=<folder> keeps them to look at)"
echo "e2e_headless: PASS ($frames frames)"
