#include "screen/color.h"
#include "screen_helpers.h"

namespace {

class ColorTest : public ScreenTest {};

TEST_F(ColorTest, ToScreenColorPacksEachDepthAndLayout) {
    struct Case {
        int depth, format, r, g, b;
        DWORD packed;
    } cases[] = {
        {16, kPixel565, 255, 255, 255, 0xFFFF},        {15, kPixelOther, 255, 255, 255, 0x7FFF},
        {16, kPixel565, 255, 0, 0, 0xF800},            {15, kPixelOther, 255, 0, 0, 0x7C00},
        {32, kPixel32BlueLow, 255, 0, 0, 0xFF0000},    {32, kPixel32RedLow, 255, 0, 0, 0xFF},
        {24, kPixel24RedLow, 255, 0, 0, 0xFF},         {24, kPixel24BlueLow, 0, 0, 255, 0xFF},
        // 16 bits always packs 5-6-5, even on a 5-5-5 display; only depth 15 packs 5-5-5.
        {16, kPixel555, 0, 255, 0, 0x07E0},            {16, kPixel555, 255, 0, 0, 0xF800},
        {15, kPixel555, 0, 255, 0, 0x03E0},
        // Each component is truncated to its field.
        {16, kPixel565, 100, 150, 200, 0x64B9},        {32, kPixel32BlueLow, 100, 150, 200, 0x6496C8},
        {32, kPixel32RedLow, 100, 150, 200, 0xC89664}, {16, kPixel565, 7, 3, 7, 0},
        // Unsupported depths give zero.
        {8, kPixelOther, 255, 255, 255, 0},            {0, 0, 255, 255, 255, 0},
        {12, kPixelOther, 255, 255, 255, 0},
        // Components are not clamped: 256 spills into the next field, a negative one wraps.
        {32, kPixel32BlueLow, 256, 0, 0, 0x1000000},   {16, kPixel565, 0, 0, 256, 0x20},
        {32, kPixel32BlueLow, 0, 0, -1, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        screen.depth = c.depth;
        screen.pixelFormat = c.format;
        EXPECT_EQ(ToScreenColor(c.r, c.g, c.b), c.packed) << c.depth << "/" << c.format << " " << c.r << "," << c.g << "," << c.b;
    }
    for (int depth : {8, 15, 16, 24, 32})
        for (int format = 1; format <= 7; ++format) {
            screen.depth = depth;
            screen.pixelFormat = format;
            EXPECT_EQ(ToScreenColor(0, 0, 0), 0u) << depth << "/" << format;
            if (depth >= 24) {
                EXPECT_EQ(ToScreenColor(255, 255, 255), 0xFFFFFFu) << depth << "/" << format;
            }
        }
}

TEST_F(ColorTest, ClearScreenFillsOnlyTheBackBufferWithThePackedColour) {
    Open(640, 480, 16);
    faults::StartRecording();
    EXPECT_EQ(ClearScreen(100, 150, 200), DD_OK);
    EXPECT_EQ(screen.fillDescription.dwFillColor, 0x64B9u);
    EXPECT_EQ(CountRecorded("IDirectDrawSurface7::Blt backbuffer"), 1) << "one colour-fill blit, on the back buffer";
    for (int y : {0, 239, 479})
        for (int x : {0, 320, 639}) EXPECT_EQ(Back().ReadRaw(x, y), 0x64B9u) << x << "," << y;
    EXPECT_EQ(Front().ReadRaw(320, 240), 0u) << "the primary surface is not touched";
}

TEST_F(ColorTest, ClearScreenReportsALostBackBufferAndAMissingScreen) {
    EXPECT_NE(ClearScreen(0, 0, 0), DD_OK) << "no screen: an error, and nothing touched";
    Open();
    faults::LoseDisplay();
    EXPECT_EQ(ClearScreen(0, 0, 0), DDERR_SURFACELOST);
    faults::Fail("IDirectDrawSurface7::Blt", 1);
    ASSERT_EQ(screen.directDraw->RestoreAllSurfaces(), DD_OK);
    EXPECT_NE(ClearScreen(0, 0, 0), DD_OK) << "any blit error is handed back";
    EXPECT_EQ(ClearScreen(0, 0, 0), DD_OK);
}

}  // namespace
