#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/gdi_internal.h"
#include "platform/host/host.h"
#include "screen/color.h"
#include "screen_helpers.h"
#include "screen/window.h"

namespace {

// ---- start-up and shutdown ----

TEST_F(ScreenTest, InitPreparesRecordsTableWindowAndDirectDraw) {
    void* table = InitScreenSystem();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table, sprites.spriteTable);
    EXPECT_EQ(sprites.spriteCapacity, 50);
    EXPECT_EQ(screen.fillDescription.dwSize, sizeof(DDBLTFX));
    EXPECT_EQ(screen.lockedDescription.dwSize, sizeof(DDSURFACEDESC2));
    EXPECT_EQ(screen.systemStarted, 1);
    EXPECT_EQ(screen.windowCreated, 1);
    ASSERT_NE(screen.window, nullptr);
    EXPECT_EQ(screen.savedWindow, screen.window);
    EXPECT_NE(screen.directDraw, nullptr);
    EXPECT_NE(screen.directDrawLibrary, nullptr);
    EXPECT_EQ(screen.directDrawUsers, 1);
    EXPECT_FALSE(IsWindowVisible(screen.window));
}

TEST_F(ScreenTest, WithoutAWindowInitFailsAndShutdownTouchesNothing) {
    faults::Fail("CreateWindowExA");
    EXPECT_EQ(InitScreenSystem(), nullptr);
    EXPECT_EQ(screen.systemStarted, 0);
    EXPECT_EQ(screen.directDraw, nullptr);
    faults::StartRecording();
    ShutdownScreenSystem();
    EXPECT_TRUE(faults::Recorded().empty());
    EXPECT_EQ(screen.directDrawUsers, 0);
}

TEST_F(ScreenTest, WithoutDirectDrawInitFailsAfterStartingAndShutdownOnlyBalancesTheCount) {
    faults::StartRecording();
    faults::Fail("DirectDrawCreateEx");
    EXPECT_EQ(InitScreenSystem(), nullptr);
    EXPECT_EQ(screen.systemStarted, 1);
    EXPECT_EQ(screen.directDrawUsers, 1);
    EXPECT_EQ(screen.directDraw, nullptr);
    EXPECT_EQ(screen.directDrawLibrary, nullptr);
    EXPECT_EQ(screen.savedWindow, nullptr);
    EXPECT_EQ(CountRecorded("FreeLibrary DDRAW.DLL"), 1) << "the library is unloaded again";

    faults::StartRecording();
    ShutdownScreenSystem();
    EXPECT_EQ(screen.directDrawUsers, 0);
    EXPECT_EQ(CountRecorded("IDirectDraw7::Release"), 0);
    EXPECT_EQ(screen.window, nullptr) << "savedWindow was never set";
    // An extra release does not drive the count below zero.
    ReleaseDirectDraw();
    EXPECT_EQ(screen.directDrawUsers, 0);
}

TEST_F(ScreenTest, MissingLibraryOrEntryPointLeavesNoDirectDraw) {
    faults::Fail("LoadLibraryA DDRAW.DLL");
    EXPECT_EQ(InitScreenSystem(), nullptr);
    EXPECT_EQ(screen.directDraw, nullptr);
    EXPECT_EQ(screen.directDrawUsers, 1);

    ResetRuntimeRecords();
    MakeHeapAndWorkArea();
    faults::Fail("GetProcAddress DirectDrawCreateEx");
    EXPECT_EQ(InitScreenSystem(), nullptr);
    EXPECT_EQ(screen.directDraw, nullptr);
    EXPECT_EQ(screen.directDrawLibrary, nullptr);
}

TEST_F(ScreenTest, DirectDrawIsSharedThroughTheUseCount) {
    Start();
    IDirectDraw7* first = screen.directDraw;
    EXPECT_EQ(AcquireDirectDraw(), first);
    EXPECT_EQ(screen.directDrawUsers, 2);
    faults::StartRecording();
    ReleaseDirectDraw();
    EXPECT_EQ(screen.directDraw, first);
    EXPECT_EQ(CountRecorded("IDirectDraw7::Release"), 0);
    ReleaseDirectDraw();
    EXPECT_EQ(screen.directDraw, nullptr);
    EXPECT_EQ(screen.directDrawLibrary, nullptr);
    EXPECT_EQ(faults::RecordedMatching({"IDirectDraw7::Release", "FreeLibrary"}),
              (std::vector<std::string>{"IDirectDraw7::Release", "FreeLibrary DDRAW.DLL"}));
}

// ---- opening ----

TEST_F(ScreenTest, OpenGivesABlackActiveFlipChainOnAShownDisabledWindow) {
    Open();
    ASSERT_NE(screen.primary, nullptr);
    ASSERT_NE(screen.backBuffer, nullptr);
    EXPECT_NE(screen.primary, screen.backBuffer);
    EXPECT_EQ(screen.width, 640);
    EXPECT_EQ(screen.height, 480);
    EXPECT_EQ(screen.depth, 16);
    EXPECT_EQ(screen.pixelFormat, kPixel565);
    EXPECT_EQ(screen.active, 1);
    EXPECT_EQ(Back().width, 640);
    EXPECT_EQ(Back().height, 480);
    EXPECT_TRUE(Back().caps & DDSCAPS_3DDEVICE) << "Direct3D renders into the back buffer";
    EXPECT_TRUE(IsWindowVisible(screen.window));
    EXPECT_FALSE(IsWindowEnabled(screen.window));
    RECT r;
    ASSERT_TRUE(GetWindowRect(screen.window, &r));
    EXPECT_EQ(r.right - r.left, 640);
    EXPECT_EQ(r.bottom - r.top, 480);
    char title[8] = {};
    GetWindowTextA(screen.window, title, sizeof title);
    EXPECT_STREQ(title, " ");
    EXPECT_LT(CursorCount(), 0) << "the cursor is hidden while the screen is open";
}

TEST_F(ScreenTest, OpenCallsDirectDrawInOrder) {
    Start();
    faults::StartRecording();
    ASSERT_EQ(OpenScreen(640, 480, 16, " "), 1);
    EXPECT_EQ(faults::RecordedMatching({"IDirectDraw7::", "IDirectDrawSurface7::GetAttachedSurface", "ShowWindow",
                                        "EnableWindow", "ShowCursor", "IDirectDrawSurface7::GetDC",
                                        "IDirectDrawSurface7::Lock"}),
              (std::vector<std::string>{"ShowCursor 0", "IDirectDraw7::SetCooperativeLevel",
                                        "IDirectDraw7::SetDisplayMode", "IDirectDraw7::CreateSurface primary",
                                        "IDirectDrawSurface7::GetAttachedSurface primary", "ShowWindow 3",
                                        "EnableWindow 0", "IDirectDrawSurface7::GetDC backbuffer",
                                        "IDirectDrawSurface7::GetDC primary", "IDirectDrawSurface7::Lock primary"}));
}

TEST_F(ScreenTest, PixelFormatFollowsTheDisplaysMasks) {
    struct Case {
        int depth;
        bool overrideMasks;
        DWORD r, g, b;
        int expected;
    } cases[] = {
        {16, false, 0, 0, 0, kPixel565},
        {16, true, 0x7C00, 0x03E0, 0x001F, kPixel555},
        {32, false, 0, 0, 0, kPixel32BlueLow},
        {32, true, 0x0000FF, 0x00FF00, 0xFF0000, kPixel32RedLow},
        {24, false, 0, 0, 0, kPixel24BlueLow},
        {24, true, 0x0000FF, 0x00FF00, 0xFF0000, kPixel24RedLow},
        {8, false, 0, 0, 0, kPixelOther},
        {15, false, 0, 0, 0, kPixelOther},
    };
    for (const Case& c : cases) {
        ResetRuntimeRecords();
        MakeHeapAndWorkArea();
        if (c.overrideMasks) faults::SetDisplayMasks(c.depth, c.r, c.g, c.b);
        Open(640, 480, c.depth);
        EXPECT_EQ(screen.pixelFormat, c.expected) << "depth " << c.depth << " override " << c.overrideMasks;
        EXPECT_EQ(screen.lockedDescription.ddpfPixelFormat.dwRGBBitCount, c.depth == 15 ? 16u : DWORD(c.depth));
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

TEST_F(ScreenTest, OpenWithoutDirectDrawFailsCleanly) {
    faults::Fail("DirectDrawCreateEx");
    InitScreenSystem();
    EXPECT_EQ(OpenScreen(640, 480, 16, " "), 0);
    EXPECT_EQ(screen.primary, nullptr);
    // The window was never saved, so the close leaves none to hide or show.
    EXPECT_EQ(screen.window, nullptr);
}

TEST_F(ScreenTest, OpenBeforeInitFailsWithoutTouchingAnything) {
    EXPECT_EQ(OpenScreen(640, 480, 16, " "), 0);
    EXPECT_EQ(screen.primary, nullptr);
    EXPECT_EQ(CursorCount(), 0);
}

TEST_F(ScreenTest, LockAndGetDCFailuresDoNotFailTheOpen) {
    Start();
    screen.pixelFormat = 42;
    faults::Fail("IDirectDrawSurface7::Lock primary", 1);
    faults::Fail("IDirectDrawSurface7::GetDC", 2);
    EXPECT_EQ(OpenScreen(640, 480, 16, " "), 1);
    EXPECT_EQ(screen.pixelFormat, 42) << "an unreadable layout leaves the old code";
    EXPECT_EQ(screen.active, 1);
}

TEST_F(ScreenTest, BlankSurfacesPaintsBothSurfacesBlack) {
    Open(320, 200, 32);
    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    fx.dwFillColor = 0x00FFFFFF;
    ASSERT_EQ(screen.backBuffer->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
    ASSERT_EQ(screen.primary->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
    BlankSurfaces();
    for (standin::Surface* s : {&Back(), &Front()}) {
        for (int y : {0, 1, 100, 199})
            for (int x : {0, 1, 160, 318, 319}) ASSERT_EQ(s->ReadRaw(x, y), 0u) << x << "," << y;
    }
}

TEST_F(ScreenTest, ActivationWhileOpeningDoesNotLeaveTheScreenInactive) {
    Start();
    faults::SetForeground(false);  // the window is shown but cannot become active
    EXPECT_EQ(OpenScreen(640, 480, 16, " "), 1);
    EXPECT_EQ(screen.active, 1);
}

TEST_F(ScreenTest, ReopeningReplacesTheOpenScreen) {
    Open();
    faults::StartRecording();
    EXPECT_EQ(OpenScreen(320, 240, 32, "again"), 1);
    EXPECT_NE(screen.primary, nullptr);
    EXPECT_EQ(CountRecorded("IDirectDrawSurface7::Release primary"), 1) << "the old chain is released";
    EXPECT_EQ(Back().width, 320);
    EXPECT_EQ(screen.pixelFormat, kPixel32BlueLow);
    EXPECT_EQ(CursorCount(), -1) << "hidden once, not twice";
}

// ---- closing ----

TEST_F(ScreenTest, CloseReleasesSpritesThenLeavesExclusiveModeThenBackBufferBeforePrimary) {
    Open();
    PutSurfaceSprite(2);
    faults::StartRecording();
    CloseScreen();
    EXPECT_EQ(faults::RecordedMatching({"IDirectDrawSurface7::Release", "IDirectDraw7::SetCooperativeLevel",
                                        "ShowCursor", "ShowWindow"}),
              (std::vector<std::string>{"IDirectDrawSurface7::Release offscreen", "IDirectDraw7::SetCooperativeLevel",
                                        "IDirectDrawSurface7::Release backbuffer",
                                        "IDirectDrawSurface7::Release primary", "ShowCursor 1", "ShowWindow 0"}));
    EXPECT_EQ(screen.primary, nullptr);
    EXPECT_EQ(screen.backBuffer, nullptr);
    EXPECT_FALSE(IsWindowVisible(screen.window));
    EXPECT_EQ(CursorCount(), 0);
    EXPECT_FALSE(standin::ExclusiveDisplaySet());
    // Kept for a later reopen at the same settings.
    EXPECT_EQ(screen.width, 640);
    EXPECT_EQ(screen.pixelFormat, kPixel565);
    EXPECT_NE(screen.directDraw, nullptr);
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

TEST_F(ScreenTest, CloseGivesBackADeviceContextStillLentOnTheBackBuffer) {
    Open();
    HDC dc = nullptr;
    ASSERT_EQ(screen.backBuffer->GetDC(&dc), DD_OK);
    screen.backBufferDC = dc;
    CloseScreen();
    EXPECT_EQ(screen.backBufferDC, nullptr);
    EXPECT_EQ(standin::DcOf(dc), nullptr);
}

TEST_F(ScreenTest, ShutdownAfterASuccessfulOpenReleasesEverything) {
    Open();
    faults::StartRecording();
    ShutdownScreenSystem();
    EXPECT_EQ(faults::RecordedMatching({"IDirectDrawSurface7::Release", "IDirectDraw7::Release", "FreeLibrary"}),
              (std::vector<std::string>{"IDirectDrawSurface7::Release backbuffer",
                                        "IDirectDrawSurface7::Release primary", "IDirectDraw7::Release",
                                        "FreeLibrary DDRAW.DLL"}));
    EXPECT_EQ(screen.directDraw, nullptr);
    EXPECT_EQ(screen.directDrawUsers, 0);
}

// ---- the host display ----

struct Png {
    int width = 0, height = 0;
    std::vector<BYTE> rgb;
};

bool ReadPng(const std::string& path, Png& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    out.width = static_cast<int>(png_get_image_width(png, info));
    out.height = static_cast<int>(png_get_image_height(png, info));
    bool rgb8 = png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB && png_get_bit_depth(png, info) == 8;
    if (rgb8) {
        out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
        for (int y = 0; y < out.height; ++y) png_read_row(png, out.rgb.data() + static_cast<size_t>(y) * out.width * 3, nullptr);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return rgb8;
}

class ScreenHost : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        folder = std::filesystem::temp_directory_path() /
                 ("ringscroller-capture-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
    }
    void TearDown() override {
        unsetenv("RINGSCROLLER_CAPTURE");
        unsetenv("RINGSCROLLER_CAPTURE_EVERY");
        std::filesystem::remove_all(folder);
        ScreenTest::TearDown();
    }
    std::string Frame(int n) {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%06d.png", n);
        return (folder / name).string();
    }
    std::filesystem::path folder;
};

TEST_F(ScreenHost, HeadlessCaptureWritesBlackFrames) {
    setenv("RINGSCROLLER_CAPTURE", folder.c_str(), 1);
    EXPECT_EQ(standin::host::Kind(), standin::host::DisplayKind::headless) << "tests never open a window unasked";
    Open(640, 480, 16);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(ClearScreen(0, 0, 0), DD_OK);
        ASSERT_EQ(screen.primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    }
    for (int n = 1; n <= 3; ++n) {
        Png png;
        ASSERT_TRUE(ReadPng(Frame(n), png)) << Frame(n);
        EXPECT_EQ(png.width, 640);
        EXPECT_EQ(png.height, 480);
        size_t lit = 0;
        for (BYTE b : png.rgb) lit += b != 0;
        EXPECT_EQ(lit, 0u) << Frame(n);
    }
    EXPECT_FALSE(std::filesystem::exists(Frame(4)));
}

TEST_F(ScreenHost, CaptureShowsThePrimaryInFullColourEveryNthFrame) {
    setenv("RINGSCROLLER_CAPTURE", folder.c_str(), 1);
    setenv("RINGSCROLLER_CAPTURE_EVERY", "2", 1);
    Open(64, 48, 16);
    ASSERT_EQ(ClearScreen(255, 0, 0), DD_OK);
    ASSERT_EQ(screen.primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);  // frame 1: red
    ASSERT_EQ(ClearScreen(255, 255, 255), DD_OK);
    ASSERT_EQ(screen.primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);  // frame 2: skipped
    ASSERT_EQ(screen.primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);  // frame 3: red again (the buffers swap)
    Png png;
    ASSERT_TRUE(ReadPng(Frame(1), png));
    EXPECT_EQ(png.width, 64);
    EXPECT_EQ(png.rgb[0], 255);
    EXPECT_EQ(png.rgb[1], 0);
    EXPECT_EQ(png.rgb[2], 0);
    EXPECT_FALSE(std::filesystem::exists(Frame(2)));
    ASSERT_TRUE(ReadPng(Frame(3), png));
    EXPECT_EQ(png.rgb[3 * (47 * 64 + 63)], 255) << "the last pixel too";
}

// Run by tests/xvfb_window.sh inside Xvfb: a real window shows the frames.
TEST_F(ScreenHost, XvfbWindowShowsFrames) {
    const char* wanted = std::getenv("RINGSCROLLER_XVFB_TEST");
    if (!wanted || std::string(wanted) != "1") GTEST_SKIP() << "run by xvfb_window.sh under Xvfb";
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
