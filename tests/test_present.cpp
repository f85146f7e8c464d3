// Frame presentation on the stand-in: the device context given back before
// the flip, the message pump, the active rule, and the way back from a lost
// display with the file-loaded sprites read again.
#include <string>
#include <vector>

#include "fixture.h"
#include "platform/surface.h"
#include "screen/present.h"
#include "sprites/sprite_load.h"

namespace {

const char* const kParticle = kParticleBitmap;

class FramePresentation : public OpenScreenTest {
protected:
    void SetUp() override {
        OpenScreenTest::SetUp();
        // Let the window messages of opening the screen run first.
        FlipBuffers();
        ASSERT_EQ(screen.active, 1);
    }
    void TearDown() override {
        CloseScreen();
        RuntimeTest::TearDown();
    }

    static size_t Count(const std::string& prefix) { return faults::RecordedMatching({prefix}).size(); }
    static unsigned SurfaceId(int number) {
        standin::Surface* s = standin::SurfaceOf(SpriteSurface(sprites.spriteTable[number]));
        return s ? s->id : 0;
    }
};

TEST_F(FramePresentation, FlipsAndReturnsTheBackBuffer) {
    faults::StartRecording();
    EXPECT_EQ(FlipBuffers(), screen.backBuffer);
    EXPECT_EQ(Count("IDirectDrawSurface7::Flip"), 1u);
    EXPECT_EQ(Count("IDirectDraw7::SetDisplayMode"), 0u);
}

TEST_F(FramePresentation, AnEmptyQueueTakesOnePeek) {
    faults::StartRecording();
    FlipBuffers();
    EXPECT_EQ(Count("PeekMessageA"), 1u);
    EXPECT_EQ(Count("DispatchMessageA"), 0u);
}

TEST_F(FramePresentation, NothingIsShownWhileInactive) {
    screen.active = 0;
    faults::StartRecording();
    for (int frame = 0; frame < 5; ++frame) EXPECT_EQ(FlipBuffers(), screen.backBuffer);
    EXPECT_EQ(Count("IDirectDrawSurface7::Flip"), 0u);
    EXPECT_EQ(Count("PeekMessageA"), 5u);
}

TEST_F(FramePresentation, ADeactivationQueuedBeforeTheFrameStopsThatFrame) {
    PostMessageA(screen.window, WM_ACTIVATE, WA_INACTIVE, 0);
    faults::StartRecording();
    FlipBuffers();
    EXPECT_EQ(screen.active, 0);
    EXPECT_EQ(Count("DispatchMessageA"), 1u);
    EXPECT_EQ(Count("IDirectDrawSurface7::Flip"), 0u);
}

TEST_F(FramePresentation, TheBackBufferDeviceContextIsGivenBackBeforeTheFlip) {
    standin::SurfaceOf(screen.backBuffer)->WriteRaw(0, 0, 0x1234);
    ASSERT_EQ(screen.backBuffer->GetDC(&screen.backBufferDC), DD_OK);
    ASSERT_NE(screen.backBufferDC, nullptr);
    faults::StartRecording();
    FlipBuffers();
    EXPECT_EQ(screen.backBufferDC, nullptr);
    // A surface whose device context is out cannot flip: the frame showing
    // proves the release came first.
    EXPECT_EQ(standin::SurfaceOf(screen.primary)->ReadRaw(0, 0), 0x1234u);
    auto calls = faults::RecordedMatching({"IDirectDrawSurface7::ReleaseDC", "IDirectDrawSurface7::Flip"});
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].rfind("IDirectDrawSurface7::ReleaseDC", 0), 0u);
    EXPECT_EQ(calls[1].rfind("IDirectDrawSurface7::Flip", 0), 0u);
    // Given back for real: the surface hands out a new one.
    HDC again = nullptr;
    EXPECT_EQ(screen.backBuffer->GetDC(&again), DD_OK);
    screen.backBuffer->ReleaseDC(again);
}

TEST_F(FramePresentation, OtherFlipErrorsAreIgnored) {
    faults::Fail("IDirectDrawSurface7::Flip", 1);
    faults::StartRecording();
    EXPECT_EQ(FlipBuffers(), screen.backBuffer);
    EXPECT_EQ(Count("IDirectDraw7::SetDisplayMode"), 0u);
    EXPECT_EQ(Count("IDirectDraw7::RestoreAllSurfaces"), 0u);
}

TEST_F(FramePresentation, ALostDisplayIsRestoredAndOffscreenSpritesReadAgain) {
    ASSERT_NE(LoadSpriteFromFile(1, kParticle, kModeTexture), nullptr);
    ASSERT_NE(LoadSpriteFromFile(2, kParticle, kModeOffscreen), nullptr);
    ASSERT_NE(LoadSpriteFromFile(3, kParticle, kModeSystemMemory), nullptr);
    ASSERT_NE(LoadSpriteFromFile(60, kParticle, kModeOffscreen), nullptr);
    const SpriteRecord before2 = sprites.spriteTable[2];
    const SpriteRecord before60 = sprites.spriteTable[60];
    const unsigned id2 = SurfaceId(2), id60 = SurfaceId(60);
    void* texture = sprites.spriteTable[1].surface;
    void* systemMemory = sprites.spriteTable[3].surface;
    const unsigned id1 = SurfaceId(1), id3 = SurfaceId(3);

    faults::LoseDisplay();
    faults::StartRecording();
    EXPECT_EQ(FlipBuffers(), screen.backBuffer);

    auto restore = faults::RecordedMatching(
        {"IDirectDraw7::SetDisplayMode", "IDirectDraw7::RestoreAllSurfaces", "ShowWindow", "CreateFileA"});
    ASSERT_GE(restore.size(), 4u);
    EXPECT_EQ(restore[0].rfind("IDirectDraw7::SetDisplayMode", 0), 0u);
    EXPECT_EQ(restore[1], "IDirectDraw7::RestoreAllSurfaces");
    EXPECT_EQ(restore[2], "ShowWindow " + std::to_string(SW_SHOWMAXIMIZED));
    EXPECT_EQ(Count("CreateFileA"), 2u) << "only the two off-screen sprites are read again";

    for (int number : {2, 60}) {
        SCOPED_TRACE("sprite " + std::to_string(number));
        const SpriteRecord& before = number == 2 ? before2 : before60;
        const SpriteRecord& after = sprites.spriteTable[number];
        ASSERT_NE(after.surface, nullptr);
        EXPECT_NE(SurfaceId(number), number == 2 ? id2 : id60) << "a new surface";
        EXPECT_EQ(after.mode, kModeOffscreen);
        EXPECT_EQ(after.width, 32);
        ASSERT_NE(after.fileName, nullptr);
        EXPECT_NE(after.fileName, before.fileName) << "a new copy of the name";
        EXPECT_STREQ(after.fileName, kParticle);
        EXPECT_FALSE(standin::SurfaceOf(SpriteSurface(after))->lost);
        EXPECT_NE(standin::SurfaceOf(SpriteSurface(after))->ReadRaw(16, 16), 0u) << "fresh contents";
    }
    EXPECT_EQ(sprites.spriteTable[1].surface, texture);
    EXPECT_EQ(sprites.spriteTable[3].surface, systemMemory);
    EXPECT_EQ(SurfaceId(1), id1);
    EXPECT_EQ(SurfaceId(3), id3);

    // The next frame is shown again.
    faults::StartRecording();
    FlipBuffers();
    EXPECT_EQ(Count("IDirectDraw7::SetDisplayMode"), 0u);
}

TEST_F(FramePresentation, ARestoreGoesOnPastASpriteWhoseFileIsGone) {
    std::string path = std::string(RINGSCROLLER_BINARY_DIR) + "/present_vanishing.bmp";
    {
        std::FILE* in = std::fopen(kParticle, "rb");
        std::FILE* out = std::fopen(path.c_str(), "wb");
        ASSERT_TRUE(in && out);
        int c;
        while ((c = std::fgetc(in)) != EOF) std::fputc(c, out);
        std::fclose(in);
        std::fclose(out);
    }
    ASSERT_NE(LoadSpriteFromFile(4, path.c_str(), kModeOffscreen), nullptr);
    ASSERT_NE(LoadSpriteFromFile(5, kParticle, kModeOffscreen), nullptr);
    std::remove(path.c_str());
    void* kept = sprites.spriteTable[4].surface;
    const unsigned id5 = SurfaceId(5);

    faults::LoseDisplay();
    FlipBuffers();
    EXPECT_EQ(sprites.spriteTable[4].surface, kept);  // could not be opened: left as it was
    EXPECT_NE(SurfaceId(5), id5);
    EXPECT_NE(sprites.spriteTable[5].surface, nullptr);
}

TEST(FramePresentationClosed, WithNoScreenOpenNoSurfaceIsTouched) {
    ResetRuntimeRecords();
    MakeHeapAndWorkArea();
    ASSERT_NE(InitScreenSystem(), nullptr);
    screen.active = 1;
    screen.backBufferDC = reinterpret_cast<HDC>(0x1234);  // stale, its surface gone
    faults::StartRecording();
    EXPECT_EQ(FlipBuffers(), nullptr);
    EXPECT_EQ(screen.backBufferDC, nullptr);
    EXPECT_TRUE(faults::RecordedMatching({"IDirectDrawSurface7::", "IDirectDraw7::"}).empty());
    faults::Reset();
}

}  // namespace
