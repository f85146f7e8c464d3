// Glyph capture as the demo's set-up runs it: the characters space to Z in
// "Arial Black" 22 on the back buffer, sampled into the glyph table. The
// capture is also written as a contact sheet to look at.
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/arrays.h"
#include "demo/glyphs.h"
#include "platform/standin.h"
#include "screen_helpers.h"

namespace {

constexpr int kCodes = 59;  // space (32) to Z (90)

// Cell k of a row is glyph column k / 32, pixel row 32 - k % 32.
bool Lit(int row, int x, int y) { return GlyphCell(row, x * 32 + (32 - y)) != 0; }

// An 8-bit grey PNG of `image` into an open file.
bool WritePng(FILE* file, int width, int height, const std::vector<png_byte>& image) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) png_write_row(png, &image[static_cast<size_t>(y) * width]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// 59 glyphs, ten to a line, each cell 4 x 4 pixels with a grey frame.
bool WriteContactSheet(const std::string& path) {
    constexpr int scale = 4, cell = 32 * scale + 4, columns = 10, lines = (kCodes + columns - 1) / columns;
    const int width = columns * cell, height = lines * cell;
    std::vector<png_byte> image(static_cast<size_t>(width) * height, 0x40);
    for (int row = 0; row < kCodes; ++row) {
        const int ox = (row % columns) * cell + 2, oy = (row / columns) * cell + 2;
        for (int y = 1; y <= 32; ++y)
            for (int x = 0; x < 32; ++x)
                for (int dy = 0; dy < scale; ++dy)
                    for (int dx = 0; dx < scale; ++dx)
                        image[static_cast<size_t>(oy + (y - 1) * scale + dy) * width + ox + x * scale + dx] =
                            Lit(row, x, y) ? 0xFF : 0x00;
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = WritePng(file, width, height, image);
    return std::fclose(file) == 0 && written;
}

int LitCells(int row, int from = 0, int to = kGlyphCells) {
    int n = 0;
    for (int k = from; k < to; ++k) n += GlyphCell(row, k) != 0;
    return n;
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
    // Something left on the table from before must be overwritten, not kept.
    for (int k = 0; k < 1024; ++k) GlyphCell(0, k) = 7;
    CaptureGlyphs();
    ASSERT_TRUE(WriteContactSheet(RINGSCROLLER_BINARY_DIR "/glyph-sheet.png"));

    EXPECT_EQ(LitCells(0), 0) << "the space is blank";
    EXPECT_EQ(LitCells(59), 0) << "codes 91 and 92 are never written";
    EXPECT_EQ(LitCells(60), 0);
    for (int row = 0; row < kCodes; ++row) {
        EXPECT_EQ(LitCells(row, 1024, kGlyphCells), 0) << "cells 1024 to 1028 of row " << row;
        for (int k = 0; k < 1024; ++k) {
            const int v = GlyphCell(row, k);
            ASSERT_TRUE(v == 0 || v == 255) << "row " << row << " cell " << k << " = " << v;
        }
    }
    for (int code = 'A'; code <= 'Z'; ++code) {
        const int row = code - 32;
        // A heavy capital covers a good part of its 32 x 32 block.
        EXPECT_GT(LitCells(row, 0, 1024), 100) << static_cast<char>(code);
        EXPECT_LT(LitCells(row, 0, 1024), 700) << static_cast<char>(code);
    }
    for (int code = '0'; code <= '9'; ++code) EXPECT_GT(LitCells(code - 32, 0, 1024), 60) << static_cast<char>(code);

    // Shapes that hold in any heavy grotesque: the I is a bar, left-aligned
    // near the corner and standing on one baseline with the other capitals;
    // the minus sign and the full stop are small.
    auto columnLit = [](int row, int x) {
        int n = 0;
        for (int y = 1; y <= 32; ++y) n += Lit(row, x, y);
        return n;
    };
    const int rowI = 'I' - 32, rowH = 'H' - 32;
    int firstColumn = -1;
    for (int x = 0; x < 32 && firstColumn < 0; ++x)
        if (columnLit(rowI, x)) firstColumn = x;
    EXPECT_GE(firstColumn, 0);
    EXPECT_LE(firstColumn, 4);
    auto bottom = [](int row) {
        for (int y = 32; y >= 1; --y)
            for (int x = 0; x < 32; ++x)
                if (Lit(row, x, y)) return y;
        return 0;
    };
    EXPECT_EQ(bottom(rowI), bottom(rowH));
    EXPECT_EQ(bottom('E' - 32), bottom(rowH));
    EXPECT_LT(LitCells('-' - 32), LitCells(rowH) / 3);
    EXPECT_LT(LitCells('.' - 32), LitCells(rowH) / 3);
    EXPECT_GT(columnLit(rowI, firstColumn + 1), 15) << "a tall stem";

    // The capture leaves the back buffer black and the context given back.
    const standin::Surface& back = Back();
    bool black = true;
    for (BYTE b : back.pixels) black = black && b == 0;
    EXPECT_TRUE(black);
    EXPECT_EQ(screen.backBufferDC, nullptr);
    EXPECT_EQ(drawing.dc, nullptr);
}

TEST_F(GlyphsTest, TheTableDependsOnlyOnTheFont) {
    CaptureGlyphs();
    std::vector<int32_t> first(scroller.glyphs, scroller.glyphs + kGlyphRows * kGlyphCells);
    StartScroll();
    for (int i = 0; i < 50; ++i) AdvanceScroll();
    CaptureGlyphs();
    std::vector<int32_t> second(scroller.glyphs, scroller.glyphs + kGlyphRows * kGlyphCells);
    EXPECT_EQ(first, second);
}

TEST_F(GlyphsTest, WithoutADrawingEveryCellOfEveryCharacterIsLit) {
    // No device context for the back buffer: ReadPixel answers -1, not 0.
    faults::Fail("IDirectDrawSurface7::GetDC");
    CaptureGlyphs();
    for (int row = 0; row < kCodes; ++row) EXPECT_EQ(LitCells(row, 0, 1024), 1024) << row;
    EXPECT_EQ(LitCells(59), 0);
    EXPECT_EQ(LitCells(0, 1024, kGlyphCells), 0);
}

TEST_F(GlyphsTest, WithoutATableNothingHappens) {
    FreeArray(scroller.glyphs);
    scroller.glyphs = nullptr;
    faults::StartRecording();
    CaptureGlyphs();
    EXPECT_TRUE(faults::RecordedMatching({"IDirectDrawSurface7::GetDC"}).empty());
}

}  // namespace
