#include "screen/color.h"
#include "screen_helpers.h"

namespace {

class ColorTest : public ScreenTest {
protected:
    DWORD At(int depth, int format, int r, int g, int b) {
        screen.depth = depth;
        screen.pixelFormat = format;
        return ToScreenColor(r, g, b);
    }
};

TEST_F(ColorTest, BlackIsZeroAtEveryDepth) {
    for (int depth : {8, 15, 16, 24, 32})
        for (int format = 1; format <= 7; ++format) EXPECT_EQ(At(depth, format, 0, 0, 0), 0u) << depth << "/" << format;
}

TEST_F(ColorTest, WhiteFillsTheFieldsOfEachDepth) {
    EXPECT_EQ(At(16, kPixel565, 255, 255, 255), 0xFFFFu);
    EXPECT_EQ(At(15, kPixelOther, 255, 255, 255), 0x7FFFu);
    for (int format = 1; format <= 7; ++format) {
        EXPECT_EQ(At(24, format, 255, 255, 255), 0xFFFFFFu);
        EXPECT_EQ(At(32, format, 255, 255, 255), 0xFFFFFFu);
    }
}

TEST_F(ColorTest, PrimaryColoursLandInTheirFields) {
    EXPECT_EQ(At(16, kPixel565, 255, 0, 0), 0xF800u);
    EXPECT_EQ(At(15, kPixelOther, 255, 0, 0), 0x7C00u);
    EXPECT_EQ(At(32, kPixel32BlueLow, 255, 0, 0), 0xFF0000u);
    EXPECT_EQ(At(32, kPixel32RedLow, 255, 0, 0), 0xFFu);
    EXPECT_EQ(At(24, kPixel24RedLow, 255, 0, 0), 0xFFu);
    EXPECT_EQ(At(24, kPixel24BlueLow, 0, 0, 255), 0xFFu);
}

TEST_F(ColorTest, SixteenBitsIsAlways565EvenOnA555Display) {
    EXPECT_EQ(At(16, kPixel555, 0, 255, 0), 0x07E0u);
    EXPECT_EQ(At(16, kPixel555, 255, 0, 0), 0xF800u);
    EXPECT_EQ(At(15, kPixel555, 0, 255, 0), 0x03E0u) << "only depth 15 packs 5-5-5";
}

TEST_F(ColorTest, MixedColourTruncatesEachComponent) {
    EXPECT_EQ(At(16, kPixel565, 100, 150, 200), 0x64B9u);
    EXPECT_EQ(At(32, kPixel32BlueLow, 100, 150, 200), 0x6496C8u);
    EXPECT_EQ(At(32, kPixel32RedLow, 100, 150, 200), 0xC89664u);
    EXPECT_EQ(At(16, kPixel565, 7, 3, 7), 0u) << "below one step of each field";
}

TEST_F(ColorTest, UnsupportedDepthsGiveZero) {
    EXPECT_EQ(At(8, kPixelOther, 255, 255, 255), 0u);
    EXPECT_EQ(At(0, 0, 255, 255, 255), 0u);
    EXPECT_EQ(At(12, kPixelOther, 255, 255, 255), 0u);
}

TEST_F(ColorTest, ComponentsAreNotClamped) {
    EXPECT_EQ(At(32, kPixel32BlueLow, 256, 0, 0), 0x1000000u);
    EXPECT_EQ(At(16, kPixel565, 0, 0, 256), 0x20u) << "blue 256 spills into green";
    EXPECT_EQ(At(32, kPixel32BlueLow, 0, 0, -1), 0xFFFFFFFFu) << "a negative part wraps";
}

TEST_F(ColorTest, ClearScreenFillsTheWholeBackBufferWithThePackedColour) {
    Open(640, 480, 16);
    faults::StartRecording();
    EXPECT_EQ(ClearScreen(100, 150, 200), DD_OK);
    EXPECT_EQ(screen.fillDescription.dwFillColor, 0x64B9u);
    EXPECT_EQ(screen.fillDescription.dwSize, sizeof(DDBLTFX));
    EXPECT_EQ(CountRecorded("IDirectDrawSurface7::Blt backbuffer"), 1) << "one colour-fill blit, on the back buffer";
    for (int y : {0, 239, 479})
        for (int x : {0, 320, 639}) EXPECT_EQ(Back().ReadRaw(x, y), 0x64B9u) << x << "," << y;
    EXPECT_EQ(Front().ReadRaw(320, 240), 0u) << "the primary surface is not touched";
}

TEST_F(ColorTest, ClearScreenAt32BitsUsesTheDetectedByteOrder) {
    faults::SetDisplayMasks(32, 0xFF, 0xFF00, 0xFF0000);
    Open(64, 48, 32);
    ASSERT_EQ(screen.pixelFormat, kPixel32RedLow);
    ASSERT_EQ(ClearScreen(255, 0, 0), DD_OK);
    EXPECT_EQ(Back().ReadRaw(5, 5), 0xFFu);
    BYTE rgb[3];
    standin::PixelToRgb8(Back().layout, Back().ReadRaw(5, 5), rgb);
    EXPECT_EQ(rgb[0], 255);
    EXPECT_EQ(rgb[2], 0);
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
