// Frame presentation on the stand-in: the device context given back before
// the flip, the message pump, the active rule, and the way back from a lost
// display with the file-loaded sprites read again.
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "fixture.h"
#include "platform/surface.h"
#include "screen/present.h"
#include "sprites/sprite_load.h"

namespace {

class FramePresentation : public OpenScreenTest {
protected:
    void SetUp() override {
        OpenScreenTest::SetUp();
        FlipBuffers();  // lets the window messages of opening the screen run first
        ASSERT_EQ(screen.active, 1);
    }
    void TearDown() override {
        CloseScreen();
        RuntimeTest::TearDown();
    }

    static size_t Count(const std::string& prefix) { return faults::RecordedMatching({prefix}).size(); }
    static standin::Surface* Pixels(int number) { return standin::SurfaceOf(SpriteSurface(sprites.spriteTable[number])); }
    static unsigned SurfaceId(int number) { return Pixels(number) ? Pixels(number)->id : 0; }
};

TEST_F(FramePresentation, NothingIsShownWhileInactive) {
    screen.active = 0;
    faults::StartRecording();
    for (int frame = 0; frame < 5; ++frame) EXPECT_EQ(FlipBuffers(), screen.backBuffer);
    EXPECT_EQ(Count("PeekMessageA"), 5u);
    // A deactivation queued before a frame stops that very frame.
    screen.active = 1;
    PostMessageA(screen.window, WM_ACTIVATE, WA_INACTIVE, 0);
    FlipBuffers();
    EXPECT_EQ(screen.active, 0);
    EXPECT_EQ(Count("DispatchMessageA"), 1u);
    EXPECT_EQ(Count("IDirectDrawSurface7::Flip"), 0u);
}

// A frame gives the device context back, then flips once, with one look at
// an empty queue; a flip error other than a lost display is ignored.
TEST_F(FramePresentation, AFrameReleasesTheDeviceContextBeforeItsOneFlip) {
    ASSERT_EQ(screen.backBuffer->GetDC(&screen.backBufferDC), DD_OK);
    faults::StartRecording();
    EXPECT_EQ(FlipBuffers(), screen.backBuffer);
    EXPECT_EQ(screen.backBufferDC, nullptr);
    auto calls = faults::RecordedMatching({"IDirectDrawSurface7::ReleaseDC", "IDirectDrawSurface7::Flip"});
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].rfind("IDirectDrawSurface7::ReleaseDC", 0), 0u);
    EXPECT_EQ(Count("PeekMessageA"), 1u);
    EXPECT_EQ(Count("DispatchMessageA"), 0u);

    faults::Fail("IDirectDrawSurface7::Flip", 1);
    EXPECT_EQ(FlipBuffers(), screen.backBuffer);
    EXPECT_EQ(Count("IDirectDraw7::SetDisplayMode") + Count("IDirectDraw7::RestoreAllSurfaces"), 0u);
}

// Off-screen sprites are read again from their files into new surfaces; a
// texture, a system-memory sprite and one whose file is gone are left alone.
TEST_F(FramePresentation, ALostDisplayIsRestoredAndOffscreenSpritesReadAgain) {
    const std::string gone = std::string(RINGSCROLLER_BINARY_DIR) + "/present_vanishing.bmp";
    std::filesystem::copy_file(kParticleBitmap, gone, std::filesystem::copy_options::overwrite_existing);
    std::map<int, std::pair<SpriteRecord, unsigned>> before;  // the record and its surface's id
    for (auto [number, mode] : {std::pair{1, kModeTexture}, {2, kModeOffscreen}, {3, kModeSystemMemory},
                                {4, kModeOffscreen}, {60, kModeOffscreen}}) {
        ASSERT_NE(LoadSpriteFromFile(number, number == 4 ? gone.c_str() : kParticleBitmap, mode), nullptr);
        before[number] = {sprites.spriteTable[number], SurfaceId(number)};
    }
    std::remove(gone.c_str());

    faults::LoseDisplay();
    faults::StartRecording();
    EXPECT_EQ(FlipBuffers(), screen.backBuffer);
    auto restore = faults::RecordedMatching(
        {"IDirectDraw7::SetDisplayMode", "IDirectDraw7::RestoreAllSurfaces", "ShowWindow", "CreateFileA"});
    ASSERT_EQ(restore.size(), 6u) << "the three off-screen sprites' files opened after the rest";
    EXPECT_EQ(restore[0].rfind("IDirectDraw7::SetDisplayMode", 0), 0u);
    EXPECT_EQ(restore[1], "IDirectDraw7::RestoreAllSurfaces");
    EXPECT_EQ(restore[2], "ShowWindow " + std::to_string(SW_SHOWMAXIMIZED));

    for (auto& [number, old] : before) {
        SCOPED_TRACE("sprite " + std::to_string(number));
        const SpriteRecord& now = sprites.spriteTable[number];
        const bool readAgain = number == 2 || number == 60;
        EXPECT_EQ(SurfaceId(number) != old.second, readAgain) << "a new surface only for those read again";
        if (!readAgain) continue;
        EXPECT_TRUE(now.mode == kModeOffscreen && now.width == 32);
        EXPECT_NE(now.fileName, old.first.fileName) << "a new copy of the name";
        EXPECT_STREQ(now.fileName, kParticleBitmap);
        ASSERT_NE(Pixels(number), nullptr);
        EXPECT_TRUE(!Pixels(number)->lost && Pixels(number)->ReadRaw(16, 16) != 0) << "fresh contents";
    }

    faults::StartRecording();  // the next frame is shown again
    FlipBuffers();
    EXPECT_EQ(Count("IDirectDraw7::SetDisplayMode"), 0u);
}

using FramePresentationClosed = RuntimeTest;

TEST_F(FramePresentationClosed, WithNoScreenOpenNoSurfaceIsTouched) {
    ASSERT_NE(InitScreenSystem(), nullptr);
    screen.active = 1;
    screen.backBufferDC = reinterpret_cast<HDC>(0x1234);  // stale, its surface gone
    faults::StartRecording();
    EXPECT_EQ(FlipBuffers(), nullptr);
    EXPECT_EQ(screen.backBufferDC, nullptr);
    EXPECT_TRUE(faults::RecordedMatching({"IDirectDrawSurface7::", "IDirectDraw7::"}).empty());
}

}  // namespace
