// Glyph capture as the demo's set-up runs it: the characters space to Z in
// "Arial Black" 22 on the back buffer, sampled into the glyph table. The
// capture is also written as a contact sheet to look at.
#include <png.h>

#include <vector>

#include "core/arrays.h"
#include "demo/glyphs.h"
#include "platform/standin.h"
#include "screen_helpers.h"

namespace {

constexpr int kCodes = 59;  // space (32) to Z (90)

int LitCells(int row, int from = 0, int to = kGlyphCells) {
    int n = 0;
    for (int k = from; k < to; ++k) n += GlyphCell(row, k) != 0;
    return n;
}

// An 8-bit grey PNG: 59 glyphs ten to a line, each 32 x 32 cell scaled 4 times
// in a grey frame. Cell k of a row is glyph column k / 32, pixel row 32 - k % 32.
bool WriteContactSheet(const char* path) {
    constexpr int scale = 4, cell = 32 * scale + 4, width = 10 * cell, height = 6 * cell;
    std::vector<png_byte> image(static_cast<size_t>(width) * height, 0x40);
    for (int row = 0; row < kCodes; ++row)
        for (int k = 0; k < 1024; ++k) {
            const int x = row % 10 * cell + 2 + k / 32 * scale, y = row / 10 * cell + 2 + (31 - k % 32) * scale;
            for (int d = 0; d < scale * scale; ++d)
                image[static_cast<size_t>(y + d / scale) * width + x + d % scale] = GlyphCell(row, k) ? 0xFF : 0;
        }
    png_image png{nullptr, PNG_IMAGE_VERSION, width, height, PNG_FORMAT_GRAY, 0, 0, 0, {}};
    return png_image_write_to_file(&png, path, 0, image.data(), 0, nullptr) != 0;
}

class GlyphsTest : public ScreenTest {
protected:
    // The pieces of start-up and demo set-up that the capture depends on.
    void SetUp() override {
        ScreenTest::SetUp();
        InitDrawing();
        InitFonts();
        Open(640, 480, 16);
        LoadFontFace(0, "Arial Black", 22);
        AllocGlyphTable();
        ASSERT_NE(scroller.glyphs, nullptr);
    }
};

TEST_F(GlyphsTest, CapturesEveryCharacterFromSpaceToZ) {
    for (int k = 0; k < 1024; ++k) GlyphCell(0, k) = 7;  // left over: must be overwritten
    CaptureGlyphs();
    ASSERT_TRUE(WriteContactSheet(RINGSCROLLER_BINARY_DIR "/glyph-sheet.png"));

    EXPECT_EQ(LitCells(0), 0) << "the space is blank";
    EXPECT_EQ(LitCells(59), 0) << "codes 91 and 92 are never written";
    EXPECT_EQ(LitCells(60), 0);
    for (int row = 0; row < kCodes; ++row) {
        EXPECT_EQ(LitCells(row, 1024, kGlyphCells), 0) << "cells 1024 to 1028 of row " << row;
        for (int k = 0; k < 1024; ++k)
            ASSERT_TRUE(GlyphCell(row, k) == 0 || GlyphCell(row, k) == 255) << row << " cell " << k;
    }
    for (int code = '0'; code <= 'Z'; code += code == '9' ? 8 : 1) {  // digits and capitals
        const int lit = LitCells(code - 32, 0, 1024);
        EXPECT_TRUE(lit > 60 && lit < 700) << static_cast<char>(code) << " " << lit;
    }
    EXPECT_LT(LitCells('-' - 32), LitCells('H' - 32) / 3) << "a minus sign is small";

    // Scrolling in between does not change what is captured.
    std::vector<int32_t> first(scroller.glyphs, scroller.glyphs + kGlyphRows * kGlyphCells);
    StartScroll();
    for (int i = 0; i < 50; ++i) AdvanceScroll();
    CaptureGlyphs();
    EXPECT_EQ(first, std::vector<int32_t>(scroller.glyphs, scroller.glyphs + kGlyphRows * kGlyphCells));

    // The capture leaves the back buffer black and the context given back.
    for (BYTE b : Back().pixels) ASSERT_EQ(b, 0);
    EXPECT_EQ(screen.backBufferDC, nullptr);
    EXPECT_EQ(drawing.dc, nullptr);
}

TEST_F(GlyphsTest, WithoutADrawingEveryCellIsLitAndWithoutATableNothingHappens) {
    faults::Fail("IDirectDrawSurface7::GetDC");  // ReadPixel answers -1, not 0
    CaptureGlyphs();
    for (int row = 0; row < kCodes; ++row) EXPECT_EQ(LitCells(row, 0, 1024), 1024) << row;
    EXPECT_EQ(LitCells(59), 0);
    EXPECT_EQ(LitCells(0, 1024, kGlyphCells), 0);

    FreeArray(scroller.glyphs);
    scroller.glyphs = nullptr;
    faults::StartRecording();
    CaptureGlyphs();
    EXPECT_TRUE(faults::RecordedMatching({"IDirectDrawSurface7::GetDC"}).empty());
}

}  // namespace
