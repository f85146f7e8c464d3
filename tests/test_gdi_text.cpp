// The stand-in's GDI text: where TextOutA puts glyphs, in which colours, how
// the current position moves, how fonts are sized and which faces stand in
// for the Windows ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/api.h"
#include "platform/faults.h"
#include "platform/gdi_internal.h"
#include "platform/host/fonts.h"
#include "platform/standin.h"

namespace {

const standin::PixelLayout k565{16, 0xF800, 0x07E0, 0x001F};
const COLORREF kWhite565 = 0x00F8FCF8;  // 5-6-5 white reads back unreplicated

struct Box {
    int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1, count = 0;  // inclusive
    int Width() const { return right - left + 1; }
    int Height() const { return bottom - top + 1; }
};

HFONT MakeFont(int height, const char* face, int weight = FW_NORMAL, DWORD quality = NONANTIALIASED_QUALITY) {
    return CreateFontA(height, 0, 0, 0, weight, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, quality, DEFAULT_PITCH | FF_DONTCARE, face);
}

class GdiTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        faults::Reset();
        Open(k565, 200, 80);
    }
    void TearDown() override {
        standin::DeleteSurfaceDC(dc);
        for (HFONT f : fonts) DeleteObject(f);
        faults::Reset();
    }
    void Open(const standin::PixelLayout& layout, int width, int height) {
        if (dc) standin::DeleteSurfaceDC(dc);
        standin::InitSurface(surface, width, height, layout, 0);
        dc = standin::CreateSurfaceDC(&surface);
        ASSERT_NE(dc, nullptr);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
    }
    void Use(HFONT font) {
        ASSERT_NE(font, nullptr);
        fonts.push_back(font);
        SelectObject(dc, font);
    }
    // Fills the surface, returning the colour as it reads back.
    COLORREF Fill(COLORREF color) {
        for (int y = 0; y < surface.height; ++y)
            for (int x = 0; x < surface.width; ++x) surface.WriteRaw(x, y, standin::ColorToPixel(surface.layout, color));
        return GetPixel(dc, 0, 0);
    }
    // Pixels that differ from `background`.
    Box Ink(COLORREF background = 0) {
        Box b;
        for (int y = 0; y < surface.height; ++y)
            for (int x = 0; x < surface.width; ++x)
                if (GetPixel(dc, x, y) != background)
                    b = {std::min(b.left, x), std::min(b.top, y), std::max(b.right, x), std::max(b.bottom, y),
                         b.count + 1};
        return b;
    }
    Box Draw(const char* text, int x = 0, int y = 0) {
        Fill(0);
        EXPECT_TRUE(TextOutA(dc, x, y, text, static_cast<int>(std::strlen(text))));
        return Ink();
    }

    standin::Surface surface;
    HDC dc = nullptr;
    std::vector<HFONT> fonts;
};

TEST_F(GdiTextTest, TextHangsBelowThePointGivenSizedByEmOrCell) {
    Use(MakeFont(-29, "DejaVu Sans", FW_NORMAL, DEFAULT_QUALITY));
    const Box h = Draw("H", 20, 10), moved = Draw("H", 50, 30);
    // The cell's top is at y; the capital's base sits on the baseline, one ascent (0.93 em) down.
    EXPECT_TRUE(h.left >= 20 && h.left <= 25) << h.left;
    EXPECT_GT(h.top, 10 + 2);
    EXPECT_TRUE(h.bottom + 1 - 10 >= 26 && h.bottom + 1 - 10 <= 29) << h.bottom;
    EXPECT_TRUE(moved.left - h.left == 30 && moved.top - h.top == 20 && moved.count == h.count);
    // DejaVu's capitals are 0.73 em; a positive height is the cell (1.164 em), zero a default.
    for (auto [height, capital] : {std::pair{-29, 21.0}, {-20, 14.6}, {-40, 29.2}, {40, 24.8}, {0, 0.0}}) {
        Use(MakeFont(height, "DejaVu Sans"));
        const int drawn = Draw("H").Height();
        if (height) EXPECT_NEAR(drawn, capital, 1.5) << height;
        else EXPECT_GT(drawn, 5);
    }
}

TEST_F(GdiTextTest, UpdateCurrentPositionStartsAtItAndMovesItAlong) {
    Use(MakeFont(-20, "DejaVu Sans"));
    Draw("AB", 40, 40);
    EXPECT_EQ(standin::DcOf(dc)->position.x, 0) << "left alone without it";
    SetTextAlign(dc, TA_UPDATECP);
    const Box together = Draw("AV");
    standin::DcOf(dc)->position = POINT{0, 0};
    Fill(0);
    ASSERT_TRUE(TextOutA(dc, 99, 99, "A", 1));  // the arguments are ignored
    const int afterA = standin::DcOf(dc)->position.x;
    ASSERT_TRUE(TextOutA(dc, 99, 99, "V", 1));
    const POINT end = standin::DcOf(dc)->position;
    EXPECT_TRUE(afterA > 8 && end.x > afterA && end.y == 0) << afterA << " then " << end.x << " on the same line";
    // Two calls draw exactly what one call with both letters draws (no kerning).
    const Box pieces = Ink();
    EXPECT_TRUE(pieces.left == together.left && pieces.right == together.right && pieces.count == together.count);
}

TEST_F(GdiTextTest, TextColourAndBackgroundModes) {
    Use(MakeFont(-24, "DejaVu Sans", FW_BOLD));
    SetTextColor(dc, RGB(255, 0, 0));
    SetBkColor(dc, RGB(0, 255, 0));
    const COLORREF red = Fill(RGB(255, 0, 0)), green = Fill(RGB(0, 255, 0));
    Box glyphs;
    for (int mode : {TRANSPARENT, OPAQUE}) {
        const COLORREF blue = Fill(RGB(0, 0, 255));
        SetBkMode(dc, mode);
        TextOutA(dc, 10, 10, "Mw", 2);
        const Box b = Ink(blue);
        ASSERT_GT(b.count, 0);
        int reds = 0;
        for (int y = b.top; y <= b.bottom; ++y)
            for (int x = b.left; x <= b.right; ++x) {
                const COLORREF p = GetPixel(dc, x, y);
                ASSERT_TRUE(p == red || p == (mode == OPAQUE ? green : blue)) << x << "," << y << " " << std::hex << p;
                reds += p == red;
            }
        if (mode == TRANSPARENT) glyphs = b;
        if (mode == TRANSPARENT) continue;
        // Opaque: the whole text cell is filled with the background first, nothing outside it.
        EXPECT_TRUE(b.left == 10 && b.top == 10 && b.Height() >= 24 && b.right >= glyphs.right);
        EXPECT_EQ(b.count, b.Width() * b.Height()) << "a solid rectangle";
        EXPECT_EQ(reds, glyphs.count) << "the same glyph pixels as when transparent";
    }
    // 32-bit surfaces get exact colours.
    Open(standin::PixelLayout{32, 0xFF0000, 0x00FF00, 0x0000FF}, 120, 50);
    SelectObject(dc, fonts.back());
    SetTextColor(dc, RGB(1, 2, 3));
    const Box t = Draw("T");
    EXPECT_EQ(GetPixel(dc, (t.left + t.right) / 2, t.top + 1), RGB(1, 2, 3));
}

TEST_F(GdiTextTest, SmoothEdgesBlendWithTheDestinationIn16Bit) {
    Use(MakeFont(-30, "DejaVu Sans", FW_NORMAL, DEFAULT_QUALITY));
    const COLORREF red = Fill(RGB(255, 0, 0));
    TextOutA(dc, 5, 5, "O", 1);
    int full = 0, partial = 0;
    for (int y = 0; y < surface.height; ++y)
        for (int x = 0; x < surface.width; ++x) {
            const COLORREF p = GetPixel(dc, x, y);
            if (p == red) continue;
            // White over red keeps red full; green and blue rise together by coverage.
            ASSERT_EQ(GetRValue(p), 0xF8) << x << "," << y;
            ASSERT_NEAR(GetGValue(p), GetBValue(p), 8) << x << "," << y;
            (p == kWhite565 ? full : partial)++;
        }
    EXPECT_GT(full, 30);
    EXPECT_GT(partial, 20) << "a smoothed O has many edge pixels";
}

TEST_F(GdiTextTest, ArialBlackResolvesToAHeavyFace) {
    using standin::host::ResolveFace;
    const auto black = ResolveFace("Arial Black", FW_NORMAL, false);
    ASSERT_TRUE(black.found);
    EXPECT_GE(black.weight, 700) << black.family << " " << black.style;
    EXPECT_EQ(standin::host::EffectiveWeight("Arial Black", 0), 900);
    EXPECT_EQ(standin::host::EffectiveWeight("Arial", FW_BOLD), 700);
    EXPECT_LT(ResolveFace("Arial", FW_NORMAL, false).weight, 600);
    EXPECT_TRUE(ResolveFace("No Such Family 123", FW_NORMAL, false).found) << "an unknown name still gets a face";
    // And it draws heavy: far more of the letters' area is ink than in Arial.
    auto density = [&](HFONT font) {
        Use(font);
        const Box ink = Draw("HOW", 4, 0);
        return static_cast<double>(ink.count) / (ink.Width() * ink.Height());
    };
    const double heavy = density(MakeFont(-29, "Arial Black")), normal = density(MakeFont(-29, "Arial"));
    EXPECT_GE(heavy, normal * 1.25) << heavy << " vs " << normal;
}

TEST_F(GdiTextTest, InvertingFlipsTheGlyphPixels) {
    Use(MakeFont(-24, "DejaVu Sans", FW_BOLD));
    const Box plain = Draw("X", 4, 4);
    Fill(RGB(255, 255, 255));
    SetROP2(dc, R2_NOT);
    SetTextColor(dc, RGB(255, 0, 0));  // not used: R2_NOT ignores the colour
    TextOutA(dc, 4, 4, "X", 1);
    const Box inverted = Ink(kWhite565);
    EXPECT_TRUE(inverted.count == plain.count && inverted.left == plain.left);
    EXPECT_EQ(GetPixel(dc, (plain.left + plain.right) / 2, (plain.top + plain.bottom) / 2), 0u) << "white inverted";
    TextOutA(dc, 4, 4, "X", 1);
    EXPECT_EQ(Ink(kWhite565).count, 0) << "drawing again inverts back";
}

TEST_F(GdiTextTest, BytesAreWindows1252) {
    Use(MakeFont(-30, "DejaVu Sans"));
    const Box capital = Draw("H"), quote = Draw("\x93"), accented = Draw("\xC9");
    // 0x93 is a left double quotation mark: small and high, not a control character's box.
    ASSERT_GT(quote.count, 0);
    EXPECT_LT(quote.bottom, (capital.top + capital.bottom) / 2);
    // 0xC9 is E with acute: a capital E with an accent above the capitals.
    EXPECT_EQ(accented.bottom, capital.bottom);
    EXPECT_LT(accented.top, capital.top - 2);
}

TEST_F(GdiTextTest, BadCallsFailSafely) {
    EXPECT_GT(Draw("Hello").Width(), 20) << "with no font selected the system font draws";
    Use(MakeFont(-20, "DejaVu Sans"));
    Fill(0);
    EXPECT_FALSE(TextOutA(nullptr, 0, 0, "A", 1));
    EXPECT_FALSE(TextOutA(dc, 0, 0, nullptr, 3));
    EXPECT_FALSE(TextOutA(dc, 0, 0, "A", -1));
    EXPECT_TRUE(TextOutA(dc, 0, 0, "", 0));
    EXPECT_EQ(Ink().count, 0);
    // Text partly or wholly off the surface is clipped.
    for (auto [x, y] : {std::pair{-8, -10}, {190, 70}, {5000, -5000}}) EXPECT_TRUE(TextOutA(dc, x, y, "WW", 2));
    const Box clipped = Ink();
    EXPECT_TRUE(clipped.count > 0 && clipped.left == 0 && clipped.bottom == 79);

    faults::Fail("CreateFontA", 1);
    EXPECT_EQ(MakeFont(-29, "Arial Black"), nullptr);
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {200, 0}, {0, 80}, {1 << 30, 5}, {-(1 << 30), -7}})
        EXPECT_EQ(GetPixel(dc, x, y), CLR_INVALID) << "outside the surface: " << x << "," << y;
    EXPECT_EQ(GetPixel(nullptr, 0, 0), CLR_INVALID);
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    EXPECT_EQ(GetPixel(display, 0, 0), CLR_INVALID) << "the display context has no pixels of ours";
    EXPECT_TRUE(DeleteDC(display));
    EXPECT_FALSE(DeleteDC(display)) << "already gone";
    EXPECT_EQ(CreateDCA("PRINTER", nullptr, nullptr, nullptr), nullptr);
    faults::Fail("CreateDCA", 1);
    EXPECT_EQ(CreateDCA("DISPLAY", nullptr, nullptr, nullptr), nullptr);
}

}  // namespace
