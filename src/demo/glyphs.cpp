// Glyph capture: each character from space to Z is drawn once in white on the
// black back buffer and read back into the glyph table as lit and unlit cells.
#include "demo/glyphs.h"

#include "core/strings.h"
#include "demo/scroller.h"
#include "drawing/drawing.h"
#include "drawing/fonts.h"
#include "screen/color.h"

namespace {

constexpr int32_t kFirstCode = 32;  // space
constexpr int32_t kLastCode = 90;   // Z
constexpr int32_t kGlyphSize = 32;
constexpr int32_t kLit = 255;

}  // namespace

void CaptureGlyphs() {
    // Without a table there is nowhere to put the cells.
    if (!scroller.glyphs) return;
    for (int32_t code = kFirstCode; code <= kLastCode; ++code) {
        BeginDrawing(BackBufferOutput());
        SetDrawingFont(FontHandle(0));
        SetDrawingMode(kDrawTransparent);
        SetFrontColor(255, 255, 255);
        {
            TempScope statement;
            DrawString(statement.Keep(CharString(code)));
        }
        // Column by column, each from its bottom sampled row (y = 32) up to
        // the top one (y = 1): the order the scroll engine feeds the ring in.
        // Any colour but black is lit, smoothed edge pixels included.
        int32_t k = 0;
        for (int32_t x = 0; x < kGlyphSize; ++x) {
            for (int32_t y = kGlyphSize; y >= 1; --y) {
                GlyphCell(code - kFirstCode, k) = ReadPixel(x, y) != 0 ? kLit : 0;
                ++k;
            }
        }
        EndDrawing();
        ClearScreen(0, 0, 0);
    }
}
