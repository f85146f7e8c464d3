// The screen: the main window and its messages, the screen system's start,
// open and close, colours and clearing, and frame presentation with the way
// back from a lost display.
#include <map>

#include "bitmap_files.h"
#include "fixture.h"
#include "platform/gdi_internal.h"
#include "screen/color.h"
#include "screen/present.h"
#include "screen/window.h"
#include "sprites/sprite_load.h"

namespace {

class WindowTest : public RuntimeTest {};

TEST_F(WindowTest, OneHiddenWindowOfTheRegisteredClassAndARetryAfterFailure) {
    for (const char* failure : {"RegisterClassExA", "CreateWindowExA"}) {
        ResetRuntime();
        faults::Fail(failure, 1);
        faults::StartRecording();
        EXPECT_EQ(CreateMainWindow(), 0) << failure;
        EXPECT_TRUE(screen.windowCreated == 0 && screen.window == nullptr) << failure;
        const int tried = std::string(failure) == "CreateWindowExA";
        EXPECT_EQ(CountRecorded("CreateWindowExA"), tried) << failure << ": no window is tried without its class";
        EXPECT_EQ(CreateMainWindow(), 1) << failure;
        EXPECT_EQ(CreateMainWindow(), 1) << failure;
        EXPECT_EQ(CountRecorded("CreateWindowExA"), tried + 1) << failure << ": the second call makes nothing";
    }
    EXPECT_FALSE(IsWindowVisible(screen.window));
    RECT r;
    ASSERT_TRUE(GetWindowRect(screen.window, &r));
    EXPECT_TRUE(r.left == 0 && r.top == 0 && r.right == 1 && r.bottom == 1) << "1 x 1 at 0, 0";
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    ASSERT_TRUE(GetClassInfoExA(runtime.instance, "MultimediaBase Class", &wc));
    EXPECT_EQ(wc.lpfnWndProc, &MainWindowProc);
    EXPECT_TRUE(wc.hInstance == runtime.instance && wc.hbrBackground == GetStockObject(BLACK_BRUSH));
    EXPECT_TRUE(wc.style == 0 && wc.cbClsExtra == 0 && wc.cbWndExtra == 0 && !wc.hIcon && !wc.hIconSm && !wc.hCursor &&
                !wc.lpszMenuName)
        << "no menu, icons, cursor or extra bytes";
}

TEST_F(WindowTest, ActivationFollowsTheLowWordOfWParamEvenWhenSentFromWindowCalls) {
    Start();
    const std::pair<WPARAM, int> cases[] = {{WA_INACTIVE, 0}, {WA_CLICKACTIVE, 1}, {WA_INACTIVE | (1 << 16), 0},
                                            {WA_ACTIVE | (1 << 16), 1}};  // high word: minimised
    for (auto [wParam, active] : cases) {
        EXPECT_EQ(SendMessageA(screen.window, WM_ACTIVATE, wParam, 0), 0);
        EXPECT_EQ(screen.active, active) << std::hex << wParam;
    }
    ShowWindow(screen.window, SW_SHOWMAXIMIZED);
    ShowWindow(screen.window, SW_HIDE);
    EXPECT_EQ(screen.active, 0) << "WM_ACTIVATE is sent, not posted";
}

// Windows keeps sending WM_PAINT until the window is validated: a procedure
// that does not validate would hang the message pump.
TEST_F(WindowTest, PaintValidatesTheWindowAndCloseTakesTheDefaultRoute) {
    Start();
    ShowWindow(screen.window, SW_SHOW);
    ASSERT_TRUE(GetUpdateRect(screen.window, nullptr, FALSE));
    EXPECT_EQ(MainWindowProc(screen.window, WM_ERASEBKGND, 0, 0), 1);
    EXPECT_TRUE(GetUpdateRect(screen.window, nullptr, FALSE)) << "erasing is not painting";
    EXPECT_EQ(MainWindowProc(screen.window, WM_PAINT, 0, 0), 1);
    EXPECT_FALSE(GetUpdateRect(screen.window, nullptr, FALSE));
    EXPECT_EQ(MainWindowProc(screen.window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("via default")), TRUE);
    char title[32];
    GetWindowTextA(screen.window, title, sizeof title);
    EXPECT_STREQ(title, "via default");
    // WM_CLOSE goes to DefWindowProcA, which destroys the window as Windows does.
    EXPECT_EQ(MainWindowProc(screen.window, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(IsWindow(screen.window));
}

class ScreenTest : public RuntimeTest {};

TEST_F(ScreenTest, StartUpAndShutdownWithAndWithoutWindowAndDirectDraw) {
    EXPECT_EQ(OpenScreen(640, 480, 16, " "), 0) << "nothing to open before the system starts";
    Start();
    EXPECT_EQ(sprites.spriteCapacity, 50);
    EXPECT_TRUE(screen.systemStarted == 1 && screen.savedWindow == screen.window && screen.directDrawUsers == 1);
    EXPECT_FALSE(IsWindowVisible(screen.window));
    EXPECT_EQ(AcquireDirectDraw(), screen.directDraw) << "shared through the use count";
    ShutdownScreenSystem();
    EXPECT_NE(screen.directDraw, nullptr) << "still in use";
    faults::StartRecording();
    ReleaseDirectDraw();
    EXPECT_EQ(faults::RecordedMatching({"IDirectDraw7::Release", "FreeLibrary"}),
              (Calls{"IDirectDraw7::Release", "FreeLibrary DDRAW.DLL"}));

    ResetRuntime();
    faults::Fail("CreateWindowExA");
    EXPECT_EQ(InitScreenSystem(), nullptr);
    faults::StartRecording();
    ShutdownScreenSystem();
    EXPECT_TRUE(faults::Recorded().empty()) << "no window: shutdown touches nothing";

    for (const char* failure : {"LoadLibraryA DDRAW.DLL", "GetProcAddress DirectDrawCreateEx", "DirectDrawCreateEx"}) {
        ResetRuntime();
        faults::Fail(failure);
        EXPECT_EQ(InitScreenSystem(), nullptr) << failure;
        EXPECT_TRUE(screen.systemStarted == 1 && screen.directDrawUsers == 1 && !screen.directDrawLibrary) << failure;
        faults::StartRecording();
        ShutdownScreenSystem();
        EXPECT_EQ(screen.directDrawUsers, 0) << failure;
        EXPECT_EQ(CountRecorded("IDirectDraw7::Release"), 0) << failure;
        EXPECT_EQ(screen.window, nullptr) << failure << ": the window was never saved";
        ReleaseDirectDraw();
        EXPECT_EQ(screen.directDrawUsers, 0) << "an extra release does not go below zero";
    }
}

TEST_F(ScreenTest, OpenGivesABlackActiveFlipChainOnAShownDisabledWindow) {
    Start();
    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    fx.dwFillColor = 0xFFFF;
    faults::StartRecording();
    ASSERT_EQ(OpenScreen(320 + 65536, 200, 16, "title"), 1);
    EXPECT_EQ(faults::RecordedMatching({"MoveWindow", "IDirectDraw7::SetDisplayMode"}),
              (Calls{"MoveWindow 0 0 320 200", "IDirectDraw7::SetDisplayMode 320 200 16"})) << "low 16 bits";
    EXPECT_TRUE(screen.active == 1 && screen.width == 320 && Back().width == 320);
    EXPECT_TRUE(Back().caps & DDSCAPS_3DDEVICE) << "Direct3D renders into the back buffer";
    EXPECT_TRUE(IsWindowVisible(screen.window) && !IsWindowEnabled(screen.window));
    EXPECT_LT(CursorCount(), 0);
    ASSERT_EQ(screen.backBuffer->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
    ASSERT_EQ(screen.primary->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
    BlankSurfaces();
    for (standin::Surface* s : {&Back(), &Front()})
        for (int y : {0, 1, 100, 198, 199})
            for (int x : {0, 1, 160, 318, 319}) ASSERT_EQ(s->ReadRaw(x, y), 0u) << x << "," << y;
    faults::StartRecording();
    EXPECT_EQ(OpenScreen(40000, 480, 16, " "), 0);
    EXPECT_EQ(CountRecorded("MoveWindow 0 0 -25536 480"), 1) << "passed on sign-extended";
}

TEST_F(ScreenTest, PixelFormatFollowsTheDisplaysMasks) {
    struct Case {
        int depth;
        DWORD r, g, b;  // 0: the display's own masks
        int expected;
    } cases[] = {{16, 0, 0, 0, kPixel565}, {16, 0x7C00, 0x03E0, 0x001F, kPixel555}, {32, 0, 0, 0, kPixel32BlueLow},
                 {32, 0xFF, 0xFF00, 0xFF0000, kPixel32RedLow}, {24, 0, 0, 0, kPixel24BlueLow},
                 {24, 0xFF, 0xFF00, 0xFF0000, kPixel24RedLow}, {8, 0, 0, 0, kPixelOther}};
    for (const Case& c : cases) {
        ResetRuntime();
        if (c.r) faults::SetDisplayMasks(c.depth, c.r, c.g, c.b);
        Open(640, 480, c.depth);
        EXPECT_EQ(screen.pixelFormat, c.expected) << "depth " << c.depth << " red mask " << c.r;
    }
    ResetRuntime();
    Start();
    screen.pixelFormat = 42;
    faults::Fail("IDirectDrawSurface7::Lock primary", 1);
    faults::Fail("IDirectDrawSurface7::GetDC", 2);
    EXPECT_EQ(OpenScreen(640, 480, 16, " "), 1) << "lock and device-context failures do not fail the open";
    EXPECT_EQ(screen.pixelFormat, 42) << "an unreadable layout leaves the old code";
}

// A failed open leaves the screen closed, with the size and depth the screen
// before it had. Sprites are then copied only into surfaces whose format is
// the screen's: when all three SetCooperativeLevel calls failed, DirectDraw is
// still in its 16-bit mode and a 24-bit bitmap loads; after the others it is
// back in the 32-bit desktop mode, and a copy for 16 bits would run wild.
TEST_F(ScreenTest, EveryFailedOpenLeavesTheScreenClosedAndItsDepthAsItWas) {
    testbmp::TempFile file("white.bmp", testbmp::Solid(5, 3, 24, 0xFFFFFF));
    for (const char* failure : {"IDirectDraw7::SetCooperativeLevel", "IDirectDraw7::SetDisplayMode",
                                "IDirectDraw7::CreateSurface primary", "IDirectDrawSurface7::GetAttachedSurface"}) {
        ResetRuntime();
        Open();
        PutRawBlockSprite(3);
        ASSERT_NE(PutSurfaceSprite(7), nullptr);
        faults::Fail(failure, 3);  // the close before the open, the open, the close after it
        EXPECT_EQ(OpenScreen(320, 240, 32, " "), 0) << failure;
        EXPECT_TRUE(!screen.primary && !screen.backBuffer && !IsWindowVisible(screen.window)) << failure;
        EXPECT_EQ(CursorCount(), 0) << failure;
        EXPECT_TRUE(!sprites.spriteTable[3].surface && !sprites.spriteTable[7].surface) << failure;
        EXPECT_TRUE(screen.width == 640 && screen.height == 480 && screen.depth == 16) << failure;
        const bool stillSixteen = failure == std::string("IDirectDraw7::SetCooperativeLevel");
        EXPECT_EQ(LoadSpriteFromFile(1, file.path.c_str(), kModeOffscreen) != nullptr, stillSixteen) << failure;
        if (stillSixteen) {
            EXPECT_EQ(SpritePixels(1)->ReadRaw(4, 2), 0xFFFFu);
        }
        FreeSprite(1);
    }
}

TEST_F(ScreenTest, CloseGivesBackTheDCAndSpritesThenExclusiveModeThenBackBufferBeforePrimary) {
    Open();
    PutSurfaceSprite(2);
    PutRawBlockSprite(0);
    PutRawBlockSprite(49);
    ASSERT_EQ(screen.backBuffer->GetDC(&screen.backBufferDC), DD_OK);
    faults::StartRecording();
    CloseScreen();
    EXPECT_EQ(faults::RecordedMatching({"IDirectDrawSurface7::Release", "IDirectDraw7::SetCooperativeLevel",
                                        "ShowCursor", "ShowWindow"}),
              (Calls{"IDirectDrawSurface7::Release offscreen", "IDirectDrawSurface7::ReleaseDC backbuffer",
                     "IDirectDraw7::SetCooperativeLevel", "IDirectDrawSurface7::Release backbuffer",
                     "IDirectDrawSurface7::Release primary", "ShowCursor 1", "ShowWindow 0"}));
    EXPECT_TRUE(!screen.backBufferDC && !sprites.spriteTable[0].surface && !sprites.spriteTable[49].surface);
    EXPECT_FALSE(standin::ExclusiveDisplaySet());
    EXPECT_EQ(screen.width, 640) << "kept for a later reopen";
    faults::StartRecording();
    CloseScreen();
    EXPECT_EQ(faults::RecordedMatching({"IDirectDraw7::SetCooperativeLevel", "ShowWindow", "ShowCursor"}),
              (Calls{"IDirectDraw7::SetCooperativeLevel", "ShowCursor 1", "ShowWindow 0"}))
        << "closed again: normal level, hidden";
}

TEST_F(ScreenTest, ColoursPackForTheScreenAndClearFillsOnlyTheBackBuffer) {
    struct Case {
        int depth, format, r, g, b;
        DWORD packed;
    } cases[] = {{16, kPixel565, 255, 255, 255, 0xFFFF},   {15, kPixelOther, 100, 150, 200, 0x3259},
                 {16, kPixel555, 0, 255, 0, 0x07E0},       {16, kPixel565, 100, 150, 200, 0x64B9},
                 {32, kPixel32BlueLow, 100, 150, 200, 0x6496C8}, {32, kPixel32RedLow, 100, 150, 200, 0xC89664},
                 {24, kPixel24RedLow, 255, 0, 0, 0xFF},     {24, kPixel24BlueLow, 255, 0, 0, 0xFF0000},
                 {16, kPixel565, 7, 3, 7, 0},               {8, kPixelOther, 255, 255, 255, 0},
                 {32, kPixel32BlueLow, 256, 0, 0, 0x1000000}};
    for (const Case& c : cases) {
        screen.depth = c.depth;
        screen.pixelFormat = c.format;
        EXPECT_EQ(ToScreenColor(c.r, c.g, c.b), c.packed) << c.depth << "/" << c.format << " " << c.r << "," << c.g;
    }
    EXPECT_NE(ClearScreen(0, 0, 0), DD_OK) << "no screen: an error, and nothing touched";
    Open();
    faults::StartRecording();
    EXPECT_EQ(ClearScreen(100, 150, 200), DD_OK);
    EXPECT_EQ(CountRecorded("IDirectDrawSurface7::Blt backbuffer"), 1);
    EXPECT_TRUE(Back().ReadRaw(0, 0) == 0x64B9 && Back().ReadRaw(639, 479) == 0x64B9 && Front().ReadRaw(9, 9) == 0);
    faults::LoseDisplay();
    EXPECT_EQ(ClearScreen(0, 0, 0), DDERR_SURFACELOST);
}

class PresentTest : public OpenScreenTest {
protected:
    void SetUp() override {
        OpenScreenTest::SetUp();
        FlipBuffers();  // the messages of opening the screen run first
        ASSERT_EQ(screen.active, 1);
    }
};

// The pump empties the queue every frame; a deactivation queued before a
// frame stops that very frame, and nothing is shown until reactivation.
TEST_F(PresentTest, EveryWaitingMessageIsHandledAndNothingShownWhileInactive) {
    ASSERT_EQ(screen.backBuffer->GetDC(&screen.backBufferDC), DD_OK);
    for (UINT message : {0x0401u, 0x0402u, static_cast<UINT>(WM_ACTIVATE)}) PostMessageA(screen.window, message, 0, 0);
    faults::StartRecording();
    EXPECT_EQ(FlipBuffers(), screen.backBuffer);
    EXPECT_EQ(faults::RecordedMatching({"IDirectDrawSurface7::ReleaseDC", "DispatchMessageA", "IDirectDrawSurface7::Flip"}),
              (Calls{"IDirectDrawSurface7::ReleaseDC backbuffer", "DispatchMessageA 1025", "DispatchMessageA 1026",
                     "DispatchMessageA 6"}));
    EXPECT_TRUE(screen.active == 0 && screen.backBufferDC == nullptr);
    faults::StartRecording();
    for (int frame = 0; frame < 3; ++frame) EXPECT_EQ(FlipBuffers(), screen.backBuffer);
    EXPECT_EQ(CountRecorded("IDirectDrawSurface7::Flip"), 0);
    PostMessageA(screen.window, WM_ACTIVATE, WA_ACTIVE, 0);
    FlipBuffers();
    EXPECT_EQ(CountRecorded("IDirectDrawSurface7::Flip"), 1);
}

// Off-screen sprites are read again from their files, in ascending order,
// into new surfaces; a texture gets its picture back in the surface it has
// (3D sprites borrow it), before the other surfaces are restored; system
// memory is never lost; a sprite whose file is gone is left alone. Other flip
// errors are ignored.
TEST_F(PresentTest, ALostDisplayIsRestoredWithEveryFileLoadedPictureBack) {
    testbmp::TempFile a("a.bmp", testbmp::Solid(4, 4, 24, 0x808080)), b("b.bmp", testbmp::Solid(4, 4, 24, 0x8080)),
        gone("gone.bmp", testbmp::Solid(4, 4, 24, 0x80));
    const std::tuple<int, int, std::string> loads[] = {{1, kModeTexture, a.path}, {3, kModeSystemMemory, a.path},
        {60, kModeOffscreen, b.path}, {4, kModeOffscreen, gone.path}, {2, kModeOffscreen, a.path}};
    std::map<int, std::pair<std::string, unsigned>> before;  // file name and surface id
    for (const auto& [number, mode, name] : loads) {
        ASSERT_NE(LoadSpriteFromFile(number, name.c_str(), mode), nullptr) << number;
        before[number] = {name, SpritePixels(number)->id};
    }
    std::remove(gone.path.c_str());
    faults::LoseDisplay();
    faults::StartRecording();
    EXPECT_EQ(FlipBuffers(), screen.backBuffer);
    EXPECT_EQ(faults::RecordedMatching({"IDirectDraw7::SetDisplayMode", "IDirectDraw7::RestoreAllSurfaces", "ShowWindow",
                                        "CreateFileA"}),
              (Calls{"IDirectDraw7::SetDisplayMode 640 480 16", "CreateFileA " + a.path,
                     "IDirectDraw7::RestoreAllSurfaces", "ShowWindow 3", "CreateFileA " + a.path,
                     "CreateFileA " + gone.path, "CreateFileA " + b.path}));
    for (auto& [number, old] : before) {
        const bool readAgain = number == 2 || number == 60;
        EXPECT_EQ(SpritePixels(number)->id != old.second, readAgain) << number;
        EXPECT_STREQ(sprites.spriteTable[number].fileName, old.first.c_str()) << number;
        // Grey, or the file's cyan, everywhere but the sprite whose file is gone.
        const DWORD want = number == 4 ? 0 : number == 60 ? 0x0410 : 0x8410;
        EXPECT_EQ(SpritePixels(number)->ReadRaw(3, 3), want) << number;
    }
    faults::Fail("IDirectDrawSurface7::Flip", 1);
    faults::StartRecording();
    FlipBuffers();
    EXPECT_EQ(CountRecorded("IDirectDraw7::RestoreAllSurfaces"), 0);
}

TEST_F(RuntimeTest, FlipBuffersWithNoScreenOpenTouchesNoSurface) {
    Start();
    screen.active = 1;
    faults::StartRecording();
    EXPECT_EQ(FlipBuffers(), nullptr);
    EXPECT_TRUE(faults::RecordedMatching({"IDirectDrawSurface7::", "IDirectDraw7::"}).empty());
}

}  // namespace
