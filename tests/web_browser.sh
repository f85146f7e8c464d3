#!/usr/bin/env bash
# The web build (build/web) in headless Chromium (tests/web_browser.mjs: the
# served page, its tab hidden and shown, the page embedded in another one,
# ringscroller.html from file://, pages that cannot start, the page on
# WebGL) against the native program's own frames: every canvas it keeps, at
# frames 100, 200 and 300 of each run, must light the same pixels as the
# native headless capture of that frame. First, the page's own conversion of
# 16-bit frames is checked for every value. Fails (never skips) where Chromium,
# Node's driver, emscripten or the web build is missing: scripts/setup and
# scripts/test provide them.
# Arguments: <binary dir> <source dir>. RINGSCROLLER_WEB_DIR: another web
# build; RINGSCROLLER_WEB_SHOT=<file>: keep the browser's screenshot.
set -uo pipefail

bin="$(cd "$1" && pwd)"
src="$(cd "$2" && pwd)"
web="${RINGSCROLLER_WEB_DIR:-$src/build/web}"
frames=(100 200 300)
# Measured 0.9985 to 1.0 (the browser's hinting differs from FreeType's in
# a few edge pixels of a few glyphs); a glyph off by one pixel scores lower.
min_overlap=0.99

fail() { echo "web_browser: FAIL: $*" >&2; exit 1; }

for tool in /usr/bin/chromium node emcc /usr/bin/python3; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (run scripts/setup)"
done
[ -d "$src/node_modules/playwright-core" ] || fail "no playwright-core in $src/node_modules (run scripts/setup)"
for file in index.html ringscroller.html ringscroller.js ringscroller.wasm ringscroller.data; do
  [ -f "$web/$file" ] || fail "no $web/$file (cmake --preset web && cmake --build --preset web)"
done
[ -x "$bin/ringscroller" ] || fail "no program at $bin/ringscroller"

work="$(mktemp -d /tmp/ringscroller-web.XXXXXX)"
trap 'rm -rf "$work"' EXIT
cp "$src/assets/glimrotan.bmp" "$work/"

# The page's own conversion of 16-bit frames for the 2D canvas (wasm SIMD)
# against the stand-in's colours, for every 16-bit value, on a row that ends
# off the eight-pixel stride and with a padded pitch.
cat > "$work/rgba_check.cpp" <<'EOF'
#include <cstdio>
#include <vector>
#include "platform/host/web/rgba.h"
#include "platform/surface.h"
int main() {
    const int width = 65536 + 5, height = 2;
    const LONG pitch = width * 2 + 6;
    std::vector<BYTE> pixels(static_cast<size_t>(pitch) * height, 0xAB), rgba(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned v = (x * (y ? 40503u : 1u)) & 0xFFFF;
            pixels[y * pitch + x * 2] = v & 0xFF;
            pixels[y * pitch + x * 2 + 1] = v >> 8;
        }
    standin::PixelLayout layout;
    layout.bitsPerPixel = 16; layout.redMask = 0xF800; layout.greenMask = 0x07E0; layout.blueMask = 0x001F;
    standin::host::Rgb565ToRgba(pixels.data(), width, height, pitch, rgba.data());
    long wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned v = (x * (y ? 40503u : 1u)) & 0xFFFF;
            BYTE rgb[3];
            standin::PixelToRgb8(layout, v, rgb);
            const BYTE* o = &rgba[(static_cast<size_t>(y) * width + x) * 4];
            if (o[0] != rgb[0] || o[1] != rgb[1] || o[2] != rgb[2] || o[3] != 255) {
                if (wrong++ < 5) std::printf("pixel %04x at %d,%d: %d %d %d %d, expected %d %d %d 255\n", v, x, y, o[0], o[1], o[2], o[3], rgb[0], rgb[1], rgb[2]);
            }
        }
    std::printf("%ld of %d pixels wrong\n", wrong, width * height);
    return wrong ? 1 : 0;
}
EOF
NODE_PATH=/usr/share/nodejs emcc -O2 -msimd128 -std=c++17 -sSINGLE_FILE=1 -I"$src/src" "$work/rgba_check.cpp" \
  "$src/src/platform/host/web/rgba.cpp" "$src/src/platform/surface.cpp" -o "$work/rgba_check.js" >"$work/emcc.log" 2>&1 ||
  fail "the pixel conversion check did not build: $(tail -5 "$work/emcc.log")"
node "$work/rgba_check.js" || fail "the page's 16-bit to RGBA conversion differs from the stand-in's colours"

last=${frames[-1]}
(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY RINGSCROLLER_DISPLAY=headless \
  RINGSCROLLER_ESCAPE_AFTER=$((last + 1)) RINGSCROLLER_CAPTURE="$work/native" timeout 120 "$bin/ringscroller") ||
  fail "the native capture failed"

timeout 300 node "$src/tests/web_browser.mjs" "$web" "$work" "${frames[@]}" || fail "the browser run failed"
[ -n "${RINGSCROLLER_WEB_SHOT:-}" ] && cp "$work/browser.png" "$RINGSCROLLER_WEB_SHOT"

# Each run's kept frames: the served page, its second play (frame 100), the
# one-file page and the page on WebGL; every one must be there.
compared=0
for run in served again file webgl; do
  for n in "${frames[@]}"; do
    shot="$work/web-$run-$n.png"
    [ "$run" = again ] && [ "$n" != 100 ] && continue
    [ -f "$shot" ] || fail "no frame $n from the $run run"
    native=$(printf '%s/native/frame-%06d.png' "$work" "$n")
    overlap=$(/usr/bin/python3 "$src/tests/lit_overlap.py" "$shot" "$native" --min "$min_overlap") ||
      fail "$run run, frame $n: lit-pixel overlap with the native frame $overlap, need $min_overlap"
    echo "web_browser: $run frame $n overlap $overlap"
    compared=$((compared + 1))
  done
done
echo "web_browser: PASS ($compared frames matched)"
