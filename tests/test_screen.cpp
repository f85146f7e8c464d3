#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "demo_frames.h"
#include "platform/gdi_internal.h"
#include "platform/host/host.h"
#include "screen/color.h"
#include "screen_helpers.h"
#include "screen/window.h"

namespace {

using Calls = std::vector<std::string>;

// ---- start-up and shutdown ----

TEST_F(ScreenTest, InitPreparesTableHiddenWindowAndDirectDraw) {
    EXPECT_EQ(OpenScreen(640, 480, 16, " "), 0) << "nothing to open before the system starts";
    EXPECT_EQ(CursorCount(), 0);
    void* table = InitScreenSystem();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(sprites.spriteCapacity, 50);
    EXPECT_EQ(screen.systemStarted, 1);
    ASSERT_NE(screen.window, nullptr);
    EXPECT_EQ(screen.savedWindow, screen.window);
    EXPECT_FALSE(IsWindowVisible(screen.window));
    EXPECT_NE(screen.directDraw, nullptr);
    EXPECT_EQ(screen.directDrawUsers, 1);
}

TEST_F(ScreenTest, WithoutAWindowInitFailsAndShutdownTouchesNothing) {
    faults::Fail("CreateWindowExA");
    EXPECT_EQ(InitScreenSystem(), nullptr);
    EXPECT_EQ(screen.systemStarted, 0);
    faults::StartRecording();
    ShutdownScreenSystem();
    EXPECT_TRUE(faults::Recorded().empty());
    EXPECT_EQ(screen.directDrawUsers, 0);
}

TEST_F(ScreenTest, WithoutDirectDrawInitAndOpenFailAndShutdownOnlyBalancesTheCount) {
    for (const char* failure : {"DirectDrawCreateEx", "LoadLibraryA DDRAW.DLL", "GetProcAddress DirectDrawCreateEx"}) {
        ResetRuntimeRecords();
        MakeHeapAndWorkArea();
        runtime.instance = GetModuleHandleA(nullptr);
        faults::Fail(failure);
        faults::StartRecording();
        EXPECT_EQ(InitScreenSystem(), nullptr) << failure;
        EXPECT_EQ(screen.systemStarted, 1);
        EXPECT_EQ(screen.directDrawUsers, 1);
        EXPECT_EQ(screen.directDrawLibrary, nullptr) << failure << ": the library is not kept";
        EXPECT_EQ(CountRecorded("FreeLibrary DDRAW.DLL"), std::string(failure).rfind("Load", 0) == 0 ? 0 : 1) << failure;
        EXPECT_EQ(OpenScreen(640, 480, 16, " "), 0) << failure;
        faults::StartRecording();
        ShutdownScreenSystem();
        EXPECT_EQ(screen.directDrawUsers, 0) << failure;
        EXPECT_EQ(CountRecorded("IDirectDraw7::Release"), 0) << failure;
        EXPECT_EQ(screen.window, nullptr) << "the window was never saved";
        ReleaseDirectDraw();
        EXPECT_EQ(screen.directDrawUsers, 0) << "an extra release does not go below zero";
    }
}

TEST_F(ScreenTest, DirectDrawIsSharedThroughTheUseCount) {
    Open();
    IDirectDraw7* first = screen.directDraw;
    EXPECT_EQ(AcquireDirectDraw(), first);
    faults::StartRecording();
    ShutdownScreenSystem();
    EXPECT_EQ(CountRecorded("IDirectDrawSurface7::Release primary"), 1);
    EXPECT_EQ(screen.directDraw, first) << "still in use";
    faults::StartRecording();
    ReleaseDirectDraw();
    EXPECT_EQ(screen.directDraw, nullptr);
    EXPECT_EQ(screen.directDrawLibrary, nullptr);
    EXPECT_EQ(faults::RecordedMatching({"IDirectDraw7::Release", "FreeLibrary"}),
              (Calls{"IDirectDraw7::Release", "FreeLibrary DDRAW.DLL"}));
}

// ---- opening ----

TEST_F(ScreenTest, OpenGivesABlackActiveFlipChainOnAShownDisabledWindow) {
    Open(320, 200, 16);
    ASSERT_NE(screen.primary, nullptr);
    ASSERT_NE(screen.backBuffer, nullptr);
    EXPECT_EQ(screen.active, 1);
    EXPECT_EQ(Back().width, 320);
    EXPECT_TRUE(Back().caps & DDSCAPS_3DDEVICE) << "Direct3D renders into the back buffer";
    EXPECT_TRUE(IsWindowVisible(screen.window));
    EXPECT_FALSE(IsWindowEnabled(screen.window));
    RECT r;
    ASSERT_TRUE(GetWindowRect(screen.window, &r));
    EXPECT_EQ(r.right - r.left, 320);
    EXPECT_LT(CursorCount(), 0) << "the cursor is hidden while the screen is open";

    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    fx.dwFillColor = 0xFFFF;
    ASSERT_EQ(screen.backBuffer->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
    ASSERT_EQ(screen.primary->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
    BlankSurfaces();
    for (standin::Surface* s : {&Back(), &Front()})
        for (int y : {0, 100, 199})
            for (int x : {0, 160, 319}) ASSERT_EQ(s->ReadRaw(x, y), 0u) << x << "," << y;
}

TEST_F(ScreenTest, PixelFormatFollowsTheDisplaysMasks) {
    struct Case {
        int depth;
        DWORD r, g, b;  // 0: the display's own masks
        int expected;
    } cases[] = {
        {16, 0, 0, 0, 3},  // 5-6-5
        {16, 0x7C00, 0x03E0, 0x001F, 2},  // 5-5-5
        {32, 0, 0, 0, kPixel32BlueLow},   {32, 0x0000FF, 0x00FF00, 0xFF0000, kPixel32RedLow},
        {24, 0, 0, 0, kPixel24BlueLow},   {24, 0x0000FF, 0x00FF00, 0xFF0000, kPixel24RedLow},
        {8, 0, 0, 0, kPixelOther},        {15, 0, 0, 0, kPixelOther},
    };
    for (const Case& c : cases) {
        ResetRuntimeRecords();
        MakeHeapAndWorkArea();
        if (c.r) faults::SetDisplayMasks(c.depth, c.r, c.g, c.b);
        Open(640, 480, c.depth);
        EXPECT_EQ(screen.pixelFormat, c.expected) << "depth " << c.depth << " red mask " << c.r;
    }
}

TEST_F(ScreenTest, SizesAreSigned16BitValues) {
    Open(66176, 480 + 65536, 16 + 65536);
    EXPECT_EQ(screen.width, 640);
    EXPECT_EQ(screen.height, 480);
    EXPECT_EQ(screen.depth, 16);
    EXPECT_EQ(Back().width, 640);
    CloseScreen();
    faults::StartRecording();
    EXPECT_EQ(OpenScreen(40000, 480, 16, " "), 0);
    EXPECT_EQ(screen.width, -25536) << "passed on sign-extended, and refused by the display";
    EXPECT_EQ(screen.primary, nullptr);
    EXPECT_EQ(CountRecorded("IDirectDraw7::CreateSurface primary"), 0);
}

TEST_F(ScreenTest, EveryFailedOpenLeavesTheScreenClosed) {
    struct Case {
        const char* failure;
        int primaryReleases;  // a primary surface made before the failure is released
    } cases[] = {{"IDirectDraw7::SetCooperativeLevel", 0},
                 {"IDirectDraw7::SetDisplayMode", 0},
                 {"IDirectDraw7::CreateSurface primary", 0},
                 {"IDirectDrawSurface7::GetAttachedSurface", 1}};
    for (const Case& c : cases) {
        ResetRuntimeRecords();
        MakeHeapAndWorkArea();
        runtime.instance = GetModuleHandleA(nullptr);
        Start();
        PutRawBlockSprite(3);
        ASSERT_NE(PutSurfaceSprite(7), nullptr);
        faults::Fail(c.failure, 1);
        faults::StartRecording();
        EXPECT_EQ(OpenScreen(640, 480, 16, " "), 0) << c.failure;
        EXPECT_EQ(screen.primary, nullptr) << c.failure;
        EXPECT_EQ(screen.backBuffer, nullptr) << c.failure;
        EXPECT_FALSE(IsWindowVisible(screen.window)) << c.failure;
        EXPECT_EQ(CursorCount(), 0) << c.failure << ": the cursor is shown again";
        EXPECT_EQ(sprites.spriteTable[3].surface, nullptr) << c.failure;
        EXPECT_EQ(sprites.spriteTable[7].surface, nullptr) << c.failure;
        EXPECT_EQ(CountRecorded("IDirectDrawSurface7::Release primary"), c.primaryReleases) << c.failure;
        EXPECT_FALSE(standin::ExclusiveDisplaySet()) << c.failure;
    }
}

TEST_F(ScreenTest, LockGetDCAndActivationFailuresDoNotFailTheOpen) {
    Start();
    screen.pixelFormat = 42;
    faults::SetForeground(false);  // the window is shown but cannot become active
    faults::Fail("IDirectDrawSurface7::Lock primary", 1);
    faults::Fail("IDirectDrawSurface7::GetDC", 2);
    EXPECT_EQ(OpenScreen(640, 480, 16, " "), 1);
    EXPECT_EQ(screen.pixelFormat, 42) << "an unreadable layout leaves the old code";
    EXPECT_EQ(screen.active, 1);
}

TEST_F(ScreenTest, ReopeningReplacesTheOpenScreen) {
    Open();
    faults::StartRecording();
    EXPECT_EQ(OpenScreen(320, 240, 32, "again"), 1);
    EXPECT_EQ(CountRecorded("IDirectDrawSurface7::Release primary"), 1) << "the old chain is released";
    EXPECT_EQ(Back().width, 320);
    EXPECT_EQ(screen.pixelFormat, kPixel32BlueLow);
    EXPECT_EQ(CursorCount(), -1) << "hidden once, not twice";
}

// ---- closing ----

TEST_F(ScreenTest, CloseReleasesDCAndSpritesThenLeavesExclusiveModeThenBackBufferBeforePrimary) {
    Open();
    PutSurfaceSprite(2);
    HDC dc = nullptr;
    ASSERT_EQ(screen.backBuffer->GetDC(&dc), DD_OK);
    screen.backBufferDC = dc;
    faults::StartRecording();
    CloseScreen();
    EXPECT_EQ(faults::RecordedMatching({"IDirectDrawSurface7::Release", "IDirectDraw7::SetCooperativeLevel",
                                        "ShowCursor", "ShowWindow"}),
              (Calls{"IDirectDrawSurface7::Release offscreen", "IDirectDrawSurface7::ReleaseDC backbuffer",
                     "IDirectDraw7::SetCooperativeLevel",
                     "IDirectDrawSurface7::Release backbuffer", "IDirectDrawSurface7::Release primary", "ShowCursor 1",
                     "ShowWindow 0"}));
    EXPECT_EQ(standin::DcOf(dc), nullptr) << "the lent device context is given back first";
    EXPECT_EQ(screen.backBufferDC, nullptr);
    EXPECT_EQ(screen.backBuffer, nullptr);
    EXPECT_EQ(CursorCount(), 0);
    EXPECT_FALSE(standin::ExclusiveDisplaySet());
    EXPECT_EQ(screen.width, 640) << "kept for a later reopen";
}

TEST_F(ScreenTest, CloseWithNoOpenScreenStillFreesSpritesAndHides) {
    Start();
    PutRawBlockSprite(0);
    PutRawBlockSprite(49);
    faults::StartRecording();
    CloseScreen();
    EXPECT_EQ(sprites.spriteTable[0].surface, nullptr);
    EXPECT_EQ(sprites.spriteTable[49].surface, nullptr);
    EXPECT_EQ(CountRecorded("IDirectDraw7::SetCooperativeLevel"), 1);
    EXPECT_EQ(CountRecorded("ShowWindow 0"), 1);
    EXPECT_FALSE(IsWindowVisible(screen.window));
}

// ---- the host display ----

// A captured frame read back as 8-bit RGB; empty if it cannot be read.
std::vector<BYTE> ReadPng(const std::string& path, int& width, int& height) {
    demo_frames::Frame frame;
    if (!demo_frames::ReadPng(path, frame)) return {};
    width = frame.width;
    height = frame.height;
    return frame.rgb;
}

class ScreenHost : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        folder = std::filesystem::temp_directory_path() / ("ringscroller-capture-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        setenv("RINGSCROLLER_CAPTURE", folder.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("RINGSCROLLER_CAPTURE");
        std::filesystem::remove_all(folder);
        ScreenTest::TearDown();
    }
    std::string Frame(int n) { return (folder / demo_frames::FrameName(n)).string(); }
    void Show(int times) {
        for (int i = 0; i < times; ++i) ASSERT_EQ(screen.primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    }
    std::filesystem::path folder;
    int width = 0, height = 0;
};

TEST_F(ScreenHost, HeadlessCaptureWritesBlackFrames) {
    EXPECT_EQ(standin::host::Kind(), standin::host::DisplayKind::headless) << "tests never open a window unasked";
    Open(640, 480, 16);
    ASSERT_EQ(ClearScreen(0, 0, 0), DD_OK);
    Show(3);
    for (int n = 1; n <= 3; ++n) {
        std::vector<BYTE> rgb = ReadPng(Frame(n), width, height);
        ASSERT_EQ(rgb.size(), 640u * 480 * 3) << Frame(n);
        EXPECT_EQ(width * 10000 + height, 6400480);
        EXPECT_EQ(std::count(rgb.begin(), rgb.end(), 0), static_cast<long>(rgb.size())) << Frame(n);
    }
    EXPECT_FALSE(std::filesystem::exists(Frame(4)));
    ASSERT_EQ(ClearScreen(255, 0, 0), DD_OK);
    Show(1);
    std::vector<BYTE> red = ReadPng(Frame(4), width, height);
    ASSERT_EQ(red.size(), 640u * 480 * 3);
    EXPECT_EQ(std::vector<BYTE>(red.end() - 3, red.end()), (std::vector<BYTE>{255, 0, 0})) << "frames are in full colour";
}

// Run by tests/xvfb_window.sh inside Xvfb: a real window shows the frames.
TEST_F(ScreenHost, XvfbWindowShowsFrames) {
    const char* wanted = std::getenv("RINGSCROLLER_XVFB_TEST");
    if (!wanted || std::string(wanted) != "1") GTEST_SKIP() << "run by xvfb_window.sh under Xvfb";
    unsetenv("RINGSCROLLER_CAPTURE");
    setenv("RINGSCROLLER_DISPLAY", "window", 1);
    EXPECT_EQ(standin::host::Kind(), standin::host::DisplayKind::window);
    EXPECT_TRUE(standin::host::VideoActive());
    Open(640, 480, 16);
    const char* stop = std::getenv("RINGSCROLLER_XVFB_STOP");
    int shown = 0;
    // About ten seconds at 60 Hz at most; the script ends it sooner.
    for (int i = 0; i < 600; ++i) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        ASSERT_EQ(ClearScreen(0, 255, 0), DD_OK);
        HRESULT r = screen.primary->Flip(nullptr, DDFLIP_WAIT);
        if (r == DDERR_SURFACELOST) screen.directDraw->RestoreAllSurfaces();
        else if (r == DD_OK) ++shown;
        if (stop && std::filesystem::exists(stop) && shown >= 30) break;
    }
    EXPECT_GE(shown, 30);
    CloseScreen();
    unsetenv("RINGSCROLLER_DISPLAY");
}

}  // namespace
