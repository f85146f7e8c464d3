#!/usr/bin/env bash
# The web build in headless Chromium (tests/web_browser.mjs says what each run checks) against
# the native program's own frames: every canvas it keeps, frames 100, 200 and 300 of each run,
# must light the same pixels as the native headless capture of that frame. First, the page's
# own conversion of 16-bit frames is checked for every value. Fails (never skips) where
# Chromium, Node's driver, emscripten or the web build is missing: scripts/setup and
# scripts/test provide them. RINGSCROLLER_WEB_DIR: another web build;
# RINGSCROLLER_WEB_SHOT=<file>: keep the browser's screenshot.
set -uo pipefail
name=web_browser
source "$(dirname "$0")/helpers.bash"
web=${RINGSCROLLER_WEB_DIR:-$src/build/web}
need /usr/bin/chromium node emcc /usr/bin/python3
need_program
[ -d "$src/node_modules/playwright-core" ] || fail "no playwright-core in $src/node_modules (run scripts/setup)"
for file in index.html ringscroller.html ringscroller.js ringscroller.wasm ringscroller.data; do
  [ -f "$web/$file" ] || fail "no $web/$file (cmake --preset web && cmake --build --preset web)"
done

# The page's conversion for the 2D canvas (wasm SIMD) against the stand-in's colours: every
# 16-bit value in the first row, scrambled in the second, converted in pieces that start and end
# off the eight-pixel stride (the bytes around each piece left alone) in a row off the 16-byte grid. Then
# the lit columns of a row: one or two lit pixels (a bit in either byte) anywhere, the row's
# tail past the last group of eight included, must be covered to the group and no further.
cat >"$work/rgba_check.cpp" <<'EOF2'
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>
#include "platform/host/web/rgba.h"
#include "platform/surface.h"
using namespace standin::host;
int main() {
    const int width = 65536 + 5, height = 2, pitch = width * 2 + 6;
    std::vector<BYTE> pixels(pitch * height, 0xAB), rgba(width * height * 4, 0xCD);
    auto value = [](int x, int y) { return (x * (y ? 40503u : 1u)) & 0xFFFF; };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixels[y * pitch + x * 2] = value(x, y) & 0xFF, pixels[y * pitch + x * 2 + 1] = value(x, y) >> 8;
    standin::PixelLayout layout;
    layout.bitsPerPixel = 16, layout.redMask = 0xF800, layout.greenMask = 0x07E0, layout.blueMask = 0x001F;
    Rgb565RowToRgba(&pixels[0], 0, width, &rgba[0]);
    std::vector<bool> done(width, false);
    for (int left = 3, right; left < width; left = right + 1) {  // the pixel at `right` is left alone
        right = std::min(width, left + 1 + (left * 7) % 45);
        Rgb565RowToRgba(&pixels[pitch], left, right, &rgba[width * 4]);
        for (int x = left; x < right; ++x) done[x] = true;
    }
    long wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            BYTE want[4] = {0xCD, 0xCD, 0xCD, 0xCD};
            if (y == 0 || done[x]) standin::PixelToRgb8(layout, value(x, y), want), want[3] = 255;
            const BYTE* o = &rgba[(y * width + x) * 4];
            if (std::memcmp(o, want, 4) != 0 && wrong++ < 5)
                std::printf("pixel %04x at %d,%d: %d %d %d %d, expected %d %d %d %d\n", value(x, y), x, y, o[0], o[1], o[2], o[3], want[0], want[1], want[2], want[3]);
        }
    const int row = 8 * 80 + 3;  // 80 groups of eight and a tail
    std::vector<BYTE> line(row * 2, 0);
    const Columns black = LitColumns(line.data(), row);
    if (black.left != 0 || black.right != 0) wrong++, std::printf("a black row lit at %d..%d\n", black.left, black.right);
    for (int first = 0; first < row; ++first)
        for (int last : {first, first + 1, first + 9, first + 200, row - 1}) {
            if (last >= row) continue;
            line.assign(row * 2, 0);
            line[first * 2 + first % 2] = line[last * 2 + last % 2] = BYTE(1 << (last % 8));
            const Columns lit = LitColumns(line.data(), row);
            const int left = first / 8 * 8, right = last >= row / 8 * 8 ? row : (last / 8 + 1) * 8;
            if ((lit.left != left || lit.right != right) && wrong++ < 10)
                std::printf("pixels %d and %d lit: columns %d..%d, expected %d..%d\n", first, last, lit.left, lit.right, left, right);
        }
    std::printf("%ld wrong\n", wrong);
    return wrong != 0;
}
EOF2
NODE_PATH=/usr/share/nodejs emcc -O2 -msimd128 -std=c++17 -sSINGLE_FILE=1 -I"$src/src" "$work/rgba_check.cpp" \
  "$src/src/platform/host/web/rgba.cpp" "$src/src/platform/surface.cpp" -o "$work/rgba_check.js" >"$work/emcc.log" 2>&1 ||
  fail "the pixel conversion check did not build: $(tail -5 "$work/emcc.log")"
node "$work/rgba_check.js" || fail "the page's 16-bit to RGBA conversion or its lit columns are wrong"

capture 301 "$work/native" || fail "the native capture failed: $(tail -5 "$work/stderr")"
timeout 300 node "$src/tests/web_browser.mjs" "$web" "$work" 100 200 300 || fail "the browser run failed"
[ -z "${RINGSCROLLER_WEB_SHOT:-}" ] || cp "$work/browser.png" "$RINGSCROLLER_WEB_SHOT"
# Measured 0.9985 to 1.0 (the browser hints a few edge pixels of a few glyphs unlike FreeType);
# a glyph off by one pixel scores lower.
for run in {served,file,webgl}-{100,200,300} again-100; do
  [ -f "$work/web-$run.png" ] || fail "no frame ${run#*-} from the ${run%-*} run"
  matches "$run" 0.99 "$work/web-$run.png" "$(printf '%s/native/frame-%06d.png' "$work" "${run#*-}")"
done
