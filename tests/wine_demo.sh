#!/usr/bin/env bash
# The 64-bit Windows program under Wine, in a 640 x 480 x 16 Xvfb screen:
# it must open its full-screen display, show the particle ring (lit pixels
# only where the ring's particle sprites can be: inside the ring's box, never
# in its hole or its gap; black everywhere else), and end with exit code 0
# when Escape is held. Where Wine cannot run this test fails; it never skips.
#
# Arguments (as for every script test): <binary dir> <source dir>.
# build/win64/ringscroller.exe must already be built (scripts/test does it).
# RINGSCROLLER_WINE_EXE names another .exe to check instead.
# RINGSCROLLER_WINE_KEEP names a folder that receives the screenshots.
set -u

source_dir=${2:-$(cd "$(dirname "$0")/.." && pwd)}
exe=${RINGSCROLLER_WINE_EXE:-$source_dir/build/win64/ringscroller.exe}
bitmap=$source_dir/assets/glimrotan.bmp

# The ring's bounding box on the 640 x 480 screen: particle positions reach
# 193 pixels from the centre (320, 240) and each 22 x 22 sprite hangs to the
# right of and below its particle.
box_left=127 box_top=47 box_right=534 box_bottom=450
min_lit_inside=1000     # about one glyph column of lit particles
max_lit_outside=8       # stray pixels only; a misplaced sprite alone is 484

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
for tool in Xvfb xdotool import python3 timeout; do
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
deadline=$((SECONDS + 170))
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
timeout "$(remaining)" "$wineserver" -w
note "prefix ready after $((SECONDS - started)) s"

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

# Reads a screenshot and prints "<lit on the ring> <lit elsewhere> <left> <top> <right> <bottom>"
# (the last four: bounding box of all lit pixels, or - - - - when none).
count_lit() {
  python3 - "$1" "$box_left" "$box_top" "$box_right" "$box_bottom" <<'PY'
import math, struct, sys, zlib

def decode_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit("not a PNG")
    pos, chunks, header = 8, [], None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            chunks.append(body)
        elif kind == b"IEND":
            break
    width, height, depth, colour, _, _, interlace = header
    channels = {0: 1, 2: 3, 4: 2, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace:
        sys.exit("unsupported PNG layout: depth %d colour %d interlace %d" % (depth, colour, interlace))
    raw = zlib.decompress(b"".join(chunks))
    stride = width * channels
    rows, previous, pos = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[pos], bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        rows.append(line)
        previous = line
    colour_channels = 1 if channels <= 2 else 3
    return width, height, channels, colour_channels, rows

def ring_cover(width, height):
    """Every pixel a particle's 22 x 22 sprite can touch: the ring's 340
    spokes of 32 particles, each sprite's top-left corner on its particle,
    with one pixel of slack for the rasteriser's edge rules."""
    f32 = lambda v: struct.unpack("f", struct.pack("f", v))[0]
    pi_ish = f32(3.14)
    cover = bytearray(width * height)
    for angle in range(260, -80, -1):
        t = angle * 1.0 * pi_ish / 180
        for j in range(32):
            r = j * 3 + 100
            px = math.floor(f32(math.cos(t) * r + 320))
            py = math.floor(f32(240 - math.sin(t) * r))
            x0, x1 = max(px - 1, 0), min(px + 23, width)
            if x0 >= x1:
                continue
            for y in range(max(py - 1, 0), min(py + 23, height)):
                cover[y * width + x0:y * width + x1] = b"\x01" * (x1 - x0)
    return cover

width, height, channels, colour_channels, rows = decode_png(sys.argv[1])
left, top, right, bottom = map(int, sys.argv[2:6])
cover = ring_cover(width, height)
inside = outside = 0
lit_box = [width, height, -1, -1]
for y, line in enumerate(rows):
    for x in range(width):
        base = x * channels
        # Lit: clearly brighter than black in any channel (16-bit screens
        # leave low bits that are not quite 0 after scaling).
        if max(line[base:base + colour_channels]) > 24:
            # Off the ring counts as outside even within the box: the hole
            # in the middle and the gap at the bottom must stay black.
            if left <= x <= right and top <= y <= bottom and cover[y * width + x]:
                inside += 1
            else:
                outside += 1
            lit_box = [min(lit_box[0], x), min(lit_box[1], y), max(lit_box[2], x), max(lit_box[3], y)]
if lit_box[2] < 0:
    print(inside, outside, "- - - -")
else:
    print(inside, outside, *lit_box)
PY
}

# The ring fills as the text scrolls in (after the leading spaces), so take
# shots until one shows it, keeping time for Escape at the end.
sleep 3
shown=0 result=""
for attempt in $(seq 1 20); do
  kill -0 "$program_pid" 2>/dev/null || break
  [ "$SECONDS" -lt $((deadline - 25)) ] || break
  shot=$work/shot$attempt.png
  timeout 10 import -display "$DISPLAY" -window root "PNG24:$shot" 2>>"$work/import.log" || { sleep 1; continue; }
  result=$(count_lit "$shot") || fail "could not read the screenshot: $result"
  read -r inside outside lit_left lit_top lit_right lit_bottom <<<"$result"
  note "shot $attempt: $inside lit pixels on the ring, $outside elsewhere; lit area x $lit_left..$lit_right y $lit_top..$lit_bottom"
  if [ -n "${RINGSCROLLER_WINE_KEEP:-}" ]; then mkdir -p "$RINGSCROLLER_WINE_KEEP" && cp "$shot" "$RINGSCROLLER_WINE_KEEP/"; fi
  if [ "$outside" -gt "$max_lit_outside" ]; then
    fail "$outside lit pixels off the ring (its box is x $box_left..$box_right, y $box_top..$box_bottom)"
  fi
  if [ "$inside" -ge "$min_lit_inside" ]; then shown=1; break; fi
  sleep 1
done
if [ "$shown" -ne 1 ]; then
  kill -0 "$program_pid" 2>/dev/null || fail "the program ended before the ring was seen: $(tail -n5 "$work/program.log")"
  fail "the ring never showed: last shot had ${inside:-no} lit pixels on it (need $min_lit_inside;" \
    "Direct3D under Wine needs OpenGL in Xvfb: Mesa's libgl1-mesa-dri)"
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
note "passed in $((SECONDS - started)) s"
