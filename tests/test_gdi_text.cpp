// The stand-in's GDI text: where TextOutA puts glyphs, in which colours, how
// the current position moves, how fonts are sized and which faces stand in
// for the Windows ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "platform/api.h"
#include "platform/faults.h"
#include "platform/gdi_internal.h"
#include "platform/host/fonts.h"
#include "platform/standin.h"

namespace {

using standin::Surface;

const standin::PixelLayout k565{16, 0xF800, 0x07E0, 0x001F};
const standin::PixelLayout k32{32, 0xFF0000, 0x00FF00, 0x0000FF};

struct Box {
    int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;  // inclusive
    int count = 0;
    bool Empty() const { return count == 0; }
    int Width() const { return right - left + 1; }
    int Height() const { return bottom - top + 1; }
};

HFONT MakeFont(int height, const char* face, int weight = FW_NORMAL, DWORD quality = DEFAULT_QUALITY,
               DWORD underline = 0) {
    return CreateFontA(height, 0, 0, 0, weight, 0, underline, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, quality, DEFAULT_PITCH | FF_DONTCARE, face);
}

class GdiTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        faults::Reset();
        Open(k565, 200, 80);
    }
    void TearDown() override {
        if (dc) standin::DeleteSurfaceDC(dc);
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
    HFONT Use(HFONT font) {
        EXPECT_NE(font, nullptr);
        fonts.push_back(font);
        SelectObject(dc, font);
        return font;
    }
    void Fill(COLORREF color) {
        for (int y = 0; y < surface.height; ++y)
            for (int x = 0; x < surface.width; ++x) surface.WriteRaw(x, y, standin::ColorToPixel(surface.layout, color));
    }
    // Pixels that differ from `background`.
    Box Ink(COLORREF background = 0) {
        Box b;
        for (int y = 0; y < surface.height; ++y) {
            for (int x = 0; x < surface.width; ++x) {
                if (GetPixel(dc, x, y) == background) continue;
                b.left = std::min(b.left, x);
                b.right = std::max(b.right, x);
                b.top = std::min(b.top, y);
                b.bottom = std::max(b.bottom, y);
                ++b.count;
            }
        }
        return b;
    }
    Box Draw(const char* text, int x = 0, int y = 0) {
        Fill(0);
        EXPECT_TRUE(TextOutA(dc, x, y, text, static_cast<int>(std::strlen(text))));
        return Ink();
    }

    Surface surface;
    HDC dc = nullptr;
    std::vector<HFONT> fonts;
};

TEST_F(GdiTextTest, TextWithTopAlignmentHangsBelowThePointGiven) {
    Use(MakeFont(-29, "DejaVu Sans"));
    Box h = Draw("H", 20, 10);
    ASSERT_FALSE(h.Empty());
    // The cell's top is at y; internal leading and the space above capitals
    // put the letter lower. Its base sits on the baseline, one ascent down.
    EXPECT_GE(h.left, 20);
    EXPECT_LE(h.left, 20 + 5);
    EXPECT_GT(h.top, 10 + 2);
    const int baseline = h.bottom + 1 - 10;
    EXPECT_GE(baseline, 26);  // DejaVu's ascent is 0.93 em
    EXPECT_LE(baseline, 29);
    // A capital at 29 pixels per em is about 0.73 em tall.
    EXPECT_NEAR(h.Height(), 21, 2);

    Box moved = Draw("H", 50, 30);
    EXPECT_EQ(moved.left - h.left, 30);
    EXPECT_EQ(moved.top - h.top, 20);
    EXPECT_EQ(moved.count, h.count);
}

TEST_F(GdiTextTest, UpdateCurrentPositionStartsAtItAndMovesItAlong) {
    Use(MakeFont(-20, "DejaVu Sans"));
    // Without TA_UPDATECP the position is left alone.
    Draw("AB", 40, 40);
    EXPECT_EQ(standin::DcOf(dc)->position.x, 0);
    EXPECT_EQ(standin::DcOf(dc)->position.y, 0);

    SetTextAlign(dc, TA_UPDATECP);
    Box together = Draw("AV");
    standin::DcOf(dc)->position = POINT{0, 0};
    Fill(0);
    ASSERT_TRUE(TextOutA(dc, 99, 99, "A", 1));  // the arguments are ignored
    const int afterA = standin::DcOf(dc)->position.x;
    ASSERT_TRUE(TextOutA(dc, 99, 99, "V", 1));
    const int afterV = standin::DcOf(dc)->position.x;
    Box pieces = Ink();

    EXPECT_GT(afterA, 8);
    EXPECT_GT(afterV, afterA);
    EXPECT_EQ(standin::DcOf(dc)->position.y, 0) << "the line stays the same";
    // Two calls draw exactly what one call with both letters draws (no kerning).
    EXPECT_EQ(pieces.left, together.left);
    EXPECT_EQ(pieces.right, together.right);
    EXPECT_EQ(pieces.top, together.top);
    EXPECT_EQ(pieces.count, together.count);
}

TEST_F(GdiTextTest, TextColourAndBackgroundModes) {
    Use(MakeFont(-24, "DejaVu Sans", FW_BOLD, NONANTIALIASED_QUALITY));
    const COLORREF blue = standin::PixelToColor(k565, standin::ColorToPixel(k565, RGB(0, 0, 255)));
    const COLORREF red = standin::PixelToColor(k565, standin::ColorToPixel(k565, RGB(255, 0, 0)));
    const COLORREF green = standin::PixelToColor(k565, standin::ColorToPixel(k565, RGB(0, 255, 0)));
    SetTextColor(dc, RGB(255, 0, 0));
    SetBkColor(dc, RGB(0, 255, 0));

    // Transparent: only glyph pixels change, all of them to the text colour.
    Fill(RGB(0, 0, 255));
    SetBkMode(dc, TRANSPARENT);
    TextOutA(dc, 10, 10, "Mw", 2);
    Box glyphs = Ink(blue);
    ASSERT_FALSE(glyphs.Empty());
    for (int y = glyphs.top; y <= glyphs.bottom; ++y)
        for (int x = glyphs.left; x <= glyphs.right; ++x) {
            COLORREF p = GetPixel(dc, x, y);
            ASSERT_TRUE(p == blue || p == red) << x << "," << y << " " << std::hex << p;
        }

    // Opaque: the whole text cell is filled with the background colour first,
    // and nothing outside the cell is touched.
    Fill(RGB(0, 0, 255));
    SetBkMode(dc, OPAQUE);
    TextOutA(dc, 10, 10, "Mw", 2);
    Box cell = Ink(blue);
    EXPECT_EQ(cell.left, 10);
    EXPECT_EQ(cell.top, 10);
    EXPECT_GE(cell.Height(), 24) << "the cell is at least one em tall";
    EXPECT_GE(cell.right, glyphs.right);
    EXPECT_EQ(cell.count, cell.Width() * cell.Height()) << "a solid rectangle";
    int reds = 0;
    for (int y = cell.top; y <= cell.bottom; ++y)
        for (int x = cell.left; x <= cell.right; ++x) {
            COLORREF p = GetPixel(dc, x, y);
            ASSERT_TRUE(p == green || p == red);
            reds += p == red;
        }
    EXPECT_EQ(reds, glyphs.count) << "the same glyph pixels as when transparent";
}

TEST_F(GdiTextTest, GetPixelOutsideTheSurfaceIsInvalid) {
    Fill(RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(dc, 0, 0), 0x00F8FCF8u) << "5-6-5 white reads back unreplicated";
    EXPECT_EQ(GetPixel(dc, 199, 79), 0x00F8FCF8u);
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {200, 0}, {0, 80}, {1 << 30, 5}, {-(1 << 30), -7}})
        EXPECT_EQ(GetPixel(dc, x, y), CLR_INVALID) << x << "," << y;
    EXPECT_EQ(GetPixel(nullptr, 0, 0), CLR_INVALID);
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(GetPixel(display, 0, 0), CLR_INVALID) << "the display context has no pixels of ours";
    EXPECT_TRUE(DeleteDC(display));
}

TEST_F(GdiTextTest, SmoothEdgesBlendWithTheDestinationIn16Bit) {
    Use(MakeFont(-30, "DejaVu Sans"));
    Fill(RGB(255, 0, 0));
    const COLORREF red = standin::PixelToColor(k565, standin::ColorToPixel(k565, RGB(255, 0, 0)));
    TextOutA(dc, 5, 5, "O", 1);
    int full = 0, partial = 0;
    for (int y = 0; y < surface.height; ++y)
        for (int x = 0; x < surface.width; ++x) {
            const COLORREF p = GetPixel(dc, x, y);
            if (p == red) continue;
            // White over red keeps red full; green and blue rise together by coverage.
            ASSERT_EQ(GetRValue(p), 0xF8) << x << "," << y;
            ASSERT_NEAR(GetGValue(p), GetBValue(p), 8) << x << "," << y;
            if (p == 0x00F8FCF8) ++full;
            else ++partial;
        }
    EXPECT_GT(full, 30);
    EXPECT_GT(partial, 20) << "a smoothed O has many edge pixels";

    // Mono drawing leaves nothing in between.
    Use(MakeFont(-30, "DejaVu Sans", FW_NORMAL, NONANTIALIASED_QUALITY));
    Fill(0);
    TextOutA(dc, 5, 5, "O", 1);
    int lit = 0;
    for (int y = 0; y < surface.height; ++y)
        for (int x = 0; x < surface.width; ++x) {
            const COLORREF p = GetPixel(dc, x, y);
            ASSERT_TRUE(p == 0 || p == 0x00F8FCF8) << std::hex << p;
            lit += p != 0;
        }
    EXPECT_GT(lit, 30);
}

TEST_F(GdiTextTest, NegativeHeightIsTheEmAndPositiveTheCell) {
    Use(MakeFont(-20, "DejaVu Sans", FW_NORMAL, NONANTIALIASED_QUALITY));
    const int h20 = Draw("H").Height();
    Use(MakeFont(-40, "DejaVu Sans", FW_NORMAL, NONANTIALIASED_QUALITY));
    const int h40 = Draw("H").Height();
    Use(MakeFont(40, "DejaVu Sans", FW_NORMAL, NONANTIALIASED_QUALITY));
    const int cell40 = Draw("H").Height();
    Use(MakeFont(0, "DejaVu Sans", FW_NORMAL, NONANTIALIASED_QUALITY));
    const int byDefault = Draw("H").Height();

    EXPECT_NEAR(h20, 0.73 * 20, 1.5);  // DejaVu's capitals are 0.73 em
    EXPECT_NEAR(h40, 0.73 * 40, 1.5);
    // A 40-pixel cell holds ascent and descent: 40 / 1.164 = 34 pixels per em.
    EXPECT_NEAR(cell40, 0.73 * 34, 1.5);
    EXPECT_LT(cell40, h40);
    EXPECT_GT(byDefault, 5);
}

TEST_F(GdiTextTest, ArialBlackResolvesToAHeavyGrotesque) {
    using standin::host::ResolveFace;
    const auto black = ResolveFace("Arial Black", FW_NORMAL, false);
    ASSERT_TRUE(black.found);
    EXPECT_GE(black.weight, 700) << black.family << " " << black.style;
    if (black.substituted) {
        const std::string family = black.family;
        EXPECT_TRUE(family == "Lato" || family == "Roboto" || family == "DejaVu Sans") << family;
    }
    EXPECT_EQ(standin::host::EffectiveWeight("Arial Black", 0), 900);
    EXPECT_EQ(standin::host::EffectiveWeight("Arial", 0), 400);
    EXPECT_EQ(standin::host::EffectiveWeight("Arial", FW_BOLD), 700);

    const auto regular = ResolveFace("Arial", FW_NORMAL, false);
    ASSERT_TRUE(regular.found);
    EXPECT_LT(regular.weight, 600);
    const auto bold = ResolveFace("Arial", FW_BOLD, false);
    EXPECT_GE(bold.weight, 600);
    EXPECT_NE(bold.file, regular.file);

    // Kinds are kept: a serif for a serif, a typewriter face for a typewriter face.
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    const auto serif = ResolveFace("Times New Roman", FW_NORMAL, false);
    ASSERT_TRUE(serif.found);
    if (serif.substituted) {
        EXPECT_NE(lower(serif.family).find("serif"), std::string::npos) << serif.family;
        EXPECT_EQ(lower(serif.family).find("sans"), std::string::npos) << serif.family;
    }
    const auto mono = ResolveFace("Courier New", FW_NORMAL, false);
    ASSERT_TRUE(mono.found);
    if (mono.substituted) {
        EXPECT_NE(lower(mono.family).find("mono"), std::string::npos) << mono.family;
    }

    // A family the machine has is used as named, at the weight asked for.
    const auto named = ResolveFace("DejaVu Serif", FW_BOLD, false);
    ASSERT_TRUE(named.found);
    EXPECT_FALSE(named.substituted);
    EXPECT_EQ(named.family, "DejaVu Serif");
    EXPECT_GE(named.weight, 600);

    // An unknown name still gets a face rather than nothing.
    EXPECT_TRUE(ResolveFace("No Such Family 123", FW_NORMAL, false).found);

    // And it draws heavy: far more of the letters' area is ink than in Arial.
    auto density = [&](HFONT font) {
        Use(font);
        const Box ink = Draw("HOW", 4, 0);
        return static_cast<double>(ink.count) / (ink.Width() * ink.Height());
    };
    const double heavy = density(MakeFont(-29, "Arial Black", FW_NORMAL, NONANTIALIASED_QUALITY));
    const double normal = density(MakeFont(-29, "Arial", FW_NORMAL, NONANTIALIASED_QUALITY));
    EXPECT_GE(heavy, normal * 1.25) << heavy << " vs " << normal;
}

TEST_F(GdiTextTest, InvertingRasterOperationFlipsTheGlyphPixels) {
    Use(MakeFont(-24, "DejaVu Sans", FW_BOLD, NONANTIALIASED_QUALITY));
    const Box plain = Draw("X", 4, 4);
    Fill(RGB(255, 255, 255));
    SetROP2(dc, R2_NOT);
    SetTextColor(dc, RGB(255, 0, 0));  // not used: R2_NOT ignores the colour
    TextOutA(dc, 4, 4, "X", 1);
    const Box inverted = Ink(0x00F8FCF8);
    EXPECT_EQ(inverted.count, plain.count);
    EXPECT_EQ(inverted.left, plain.left);
    EXPECT_EQ(GetPixel(dc, (plain.left + plain.right) / 2, (plain.top + plain.bottom) / 2), 0u)
        << "the crossing of the X is inverted white, black";
    // Drawing again inverts back.
    TextOutA(dc, 4, 4, "X", 1);
    EXPECT_TRUE(Ink(0x00F8FCF8).Empty());
}

TEST_F(GdiTextTest, BytesAreWindows1252) {
    Use(MakeFont(-30, "DejaVu Sans", FW_NORMAL, NONANTIALIASED_QUALITY));
    const Box capital = Draw("H");
    // 0x93 is a left double quotation mark: small and high, not a control
    // character's box.
    const Box quote = Draw("\x93");
    ASSERT_FALSE(quote.Empty());
    EXPECT_LT(quote.bottom, (capital.top + capital.bottom) / 2);
    // 0xC9 is E with acute: a capital E with an accent above the capitals.
    const Box accented = Draw("\xC9");
    EXPECT_EQ(accented.bottom, capital.bottom);
    EXPECT_LT(accented.top, capital.top - 2);
}

TEST_F(GdiTextTest, UnderlineRunsUnderTheWholeText) {
    Use(MakeFont(-24, "DejaVu Sans", FW_NORMAL, NONANTIALIASED_QUALITY));
    const Box plain = Draw("ov", 10, 5);
    Use(MakeFont(-24, "DejaVu Sans", FW_NORMAL, NONANTIALIASED_QUALITY, TRUE));
    const Box underlined = Draw("ov", 10, 5);
    EXPECT_GT(underlined.bottom, plain.bottom);
    int run = 0;
    for (int x = 0; x < surface.width; ++x) run += GetPixel(dc, x, underlined.bottom) != 0;
    EXPECT_GE(run, plain.Width());
}

TEST_F(GdiTextTest, WithNoFontSelectedTheSystemFontDraws) {
    const Box text = Draw("Hello");
    EXPECT_FALSE(text.Empty());
    EXPECT_GT(text.Width(), 20);
}

TEST_F(GdiTextTest, BadCallsFailSafely) {
    Use(MakeFont(-20, "DejaVu Sans"));
    Fill(0);
    EXPECT_FALSE(TextOutA(nullptr, 0, 0, "A", 1));
    EXPECT_FALSE(TextOutA(dc, 0, 0, nullptr, 3));
    EXPECT_FALSE(TextOutA(dc, 0, 0, "A", -1));
    EXPECT_TRUE(TextOutA(dc, 0, 0, "", 0));
    EXPECT_TRUE(Ink().Empty());
    // Text partly or wholly off the surface is clipped.
    EXPECT_TRUE(TextOutA(dc, -8, -10, "WW", 2));
    EXPECT_TRUE(TextOutA(dc, 190, 70, "WW", 2));
    EXPECT_TRUE(TextOutA(dc, 5000, -5000, "WW", 2));
    const Box clipped = Ink();
    EXPECT_FALSE(clipped.Empty());
    EXPECT_EQ(clipped.left, 0);
    EXPECT_EQ(clipped.bottom, 79);
}

TEST_F(GdiTextTest, FontCreationAndTheDisplayContext) {
    faults::Fail("CreateFontA", 1);
    EXPECT_EQ(MakeFont(-29, "Arial Black"), nullptr);
    HFONT font = MakeFont(-29, "Arial Black", FW_NORMAL);
    ASSERT_NE(font, nullptr);
    fonts.push_back(font);
    auto* object = static_cast<standin::FontObject*>(standin::ObjectOf(font));
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->kind, standin::GdiKind::font);
    EXPECT_EQ(object->height, -29);
    EXPECT_EQ(object->faceName, "Arial Black");

    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(GetDeviceCaps(display, LOGPIXELSY), 96);
    EXPECT_EQ(GetDeviceCaps(display, LOGPIXELSX), 96);
    faults::SetDisplayDpi(120);
    EXPECT_EQ(GetDeviceCaps(display, LOGPIXELSY), 120);
    EXPECT_GT(GetDeviceCaps(display, HORZRES), 0);
    EXPECT_GT(GetDeviceCaps(display, VERTRES), 0);
    EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), 16);
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 200);
    EXPECT_TRUE(DeleteDC(display));
    EXPECT_FALSE(DeleteDC(display)) << "already gone";
    EXPECT_EQ(CreateDCA("PRINTER", nullptr, nullptr, nullptr), nullptr);
    faults::Fail("CreateDCA", 1);
    EXPECT_EQ(CreateDCA("DISPLAY", nullptr, nullptr, nullptr), nullptr);
}

TEST_F(GdiTextTest, ThirtyTwoBitSurfacesGetExactColours) {
    Open(k32, 120, 50);
    Use(MakeFont(-24, "DejaVu Sans", FW_BOLD, NONANTIALIASED_QUALITY));
    SetTextColor(dc, RGB(1, 2, 3));
    Draw("T", 0, 0);
    Box t = Ink();
    ASSERT_FALSE(t.Empty());
    EXPECT_EQ(GetPixel(dc, (t.left + t.right) / 2, t.top + 1), RGB(1, 2, 3));
}

}  // namespace
