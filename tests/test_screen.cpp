// The screen: the main window and its messages, the screen system's start,
// open and close, colours and clearing, and frame presentation with the way
// back from a lost display.
#include <map>

#include "bitmap_files.h"
#include "fixture.h"

namespace {

// The cursor's display counter, read without changing it.
int CursorCount() {
    ShowCursor(TRUE);
    return ShowCursor(FALSE);
}

using WindowTest = RuntimeTest;

TEST_F(WindowTest, OneHiddenWindowOfTheRegisteredClassAndARetryAfterFailure) {
    for (const char* failure : {"RegisterClassExA", "CreateWindowExA"}) {
        SCOPED_TRACE(failure);
        ResetRuntime();
        faults::Fail(failure, 1);
        faults::StartRecording();
        EXPECT_EQ(CreateMainWindow(), 0);
        EXPECT_TRUE(screen.windowCreated == 0 && screen.window == nullptr);
        const int tried = std::string(failure) == "CreateWindowExA";
        EXPECT_EQ(CountRecorded("CreateWindowExA"), tried) << "no window is tried without its class";
        EXPECT_TRUE(CreateMainWindow() == 1 && CreateMainWindow() == 1);
        EXPECT_EQ(CountRecorded("CreateWindowExA"), tried + 1) << "the second call makes nothing";
    }
    RECT r;
    ASSERT_TRUE(GetWindowRect(screen.window, &r) && !IsWindowVisible(screen.window));
    EXPECT_TRUE(r.left == 0 && r.top == 0 && r.right == 1 && r.bottom == 1) << "1 x 1 at 0, 0";
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    ASSERT_TRUE(GetClassInfoExA(runtime.instance, "MultimediaBase Class", &wc));
    EXPECT_TRUE(wc.lpfnWndProc == &MainWindowProc && wc.hInstance == runtime.instance &&
                wc.hbrBackground == GetStockObject(BLACK_BRUSH));
    EXPECT_TRUE(wc.style == 0 && wc.cbClsExtra == 0 && wc.cbWndExtra == 0 && !wc.hIcon && !wc.hIconSm && !wc.hCursor &&
                !wc.lpszMenuName) << "no menu, icons, cursor or extra bytes";
}

// Activation follows WM_ACTIVATE's low word (the high word says minimised), also when sent from window calls.
// WM_PAINT validates the window; anything else, WM_CLOSE too, goes to DefWindowProcA.
TEST_F(WindowTest, ActivationFollowsTheLowWordOfWParamPaintValidatesAndCloseTakesTheDefaultRoute) {
    Start();
    for (auto [wParam, active] : {std::pair<WPARAM, int>{WA_INACTIVE, 0}, {WA_CLICKACTIVE, 1},
                                  {WA_INACTIVE | (1 << 16), 0}, {WA_ACTIVE | (1 << 16), 1}}) {
        EXPECT_EQ(SendMessageA(screen.window, WM_ACTIVATE, wParam, 0), 0);
        EXPECT_EQ(screen.active, active) << std::hex << wParam;
    }
    ShowWindow(screen.window, SW_SHOWMAXIMIZED);
    ShowWindow(screen.window, SW_HIDE);
    EXPECT_EQ(screen.active, 0) << "WM_ACTIVATE is sent, not posted";
    // Windows sends WM_PAINT until the window is validated: a procedure that did not would hang the pump.
    ShowWindow(screen.window, SW_SHOW);
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

using ScreenTest = RuntimeTest;

TEST_F(ScreenTest, StartUpAndShutdownWithAndWithoutWindowAndDirectDraw) {
    EXPECT_EQ(OpenScreen(640, 480, 16, " "), 0) << "nothing to open before the system starts";
    Start();
    EXPECT_TRUE(sprites.spriteCapacity == 50 && screen.systemStarted == 1 && screen.savedWindow == screen.window &&
                screen.directDrawUsers == 1 && !IsWindowVisible(screen.window));
    screen.active = 1;
    EXPECT_TRUE(CallsOf([] { EXPECT_EQ(FlipBuffers(), nullptr); }, {"IDirectDraw"}).empty())
        << "no screen open: a flip touches no surface";
    EXPECT_EQ(AcquireDirectDraw(), screen.directDraw) << "shared through the use count";
    ShutdownScreenSystem();
    EXPECT_NE(screen.directDraw, nullptr) << "still in use";
    EXPECT_EQ(CallsOf(ReleaseDirectDraw, {"IDirectDraw7::Release", "FreeLibrary"}),
              (Calls{"IDirectDraw7::Release", "FreeLibrary DDRAW.DLL"}));
    for (const char* failure : {"CreateWindowExA", "LoadLibraryA DDRAW.DLL", "GetProcAddress DirectDrawCreateEx",
                                "DirectDrawCreateEx"}) {
        SCOPED_TRACE(failure);
        ResetRuntime();
        faults::Fail(failure);
        EXPECT_EQ(InitScreenSystem(), nullptr);
        const bool windowMade = failure != std::string("CreateWindowExA");
        EXPECT_TRUE(screen.systemStarted == windowMade && screen.directDrawUsers == windowMade);
        EXPECT_FALSE(screen.directDrawLibrary);
        const Calls shutdown = CallsOf(ShutdownScreenSystem, {""});
        EXPECT_TRUE(screen.directDrawUsers == 0 && screen.window == nullptr) << "the window was never saved";
        EXPECT_TRUE(windowMade || shutdown.empty()) << "no window: shutdown touches nothing";
        ReleaseDirectDraw();
        EXPECT_TRUE(screen.directDrawUsers == 0 && CountRecorded("IDirectDraw7::Release") == 0) << "nothing to release";
    }
}

TEST_F(ScreenTest, OpenGivesABlackActiveFlipChainOnAShownDisabledWindow) {
    Start();
    faults::StartRecording();
    ASSERT_EQ(OpenScreen(320 + 65536, 200, 16, "title"), 1);
    EXPECT_EQ(faults::RecordedMatching({"MoveWindow", "IDirectDraw7::SetDisplayMode"}),
              (Calls{"MoveWindow 0 0 320 200", "IDirectDraw7::SetDisplayMode 320 200 16"})) << "low 16 bits";
    EXPECT_TRUE(screen.active == 1 && screen.width == 320 && Back().width == 320);
    EXPECT_TRUE(Back().caps & DDSCAPS_3DDEVICE) << "Direct3D renders into the back buffer";
    EXPECT_TRUE(IsWindowVisible(screen.window) && !IsWindowEnabled(screen.window) && CursorCount() < 0);
    ASSERT_TRUE(ColorFill(screen.backBuffer, 0xFFFF) == DD_OK && ColorFill(screen.primary, 0xFFFF) == DD_OK);
    BlankSurfaces();
    for (standin::Surface* s : {&Back(), &Front()})
        for (int y : {0, 1, 100, 198, 199})
            for (int x : {0, 1, 160, 318, 319}) ASSERT_EQ(s->ReadRaw(x, y), 0u) << x << "," << y;
    EXPECT_EQ(CallsOf([] { EXPECT_EQ(OpenScreen(40000, 480, 16, " "), 0); }, {"MoveWindow"}),
              (Calls{"MoveWindow 0 0 -25536 480"})) << "passed on sign-extended";
}

TEST_F(ScreenTest, PixelFormatFollowsTheDisplaysMasks) {
    struct { int depth; DWORD r, g, b; int expected; } cases[] = {  // masks 0: the display's own
        {16, 0, 0, 0, kPixel565}, {16, 0x7C00, 0x03E0, 0x001F, kPixel555}, {32, 0, 0, 0, kPixel32BlueLow},
        {32, 0xFF, 0xFF00, 0xFF0000, kPixel32RedLow}, {24, 0, 0, 0, kPixel24BlueLow},
        {24, 0xFF, 0xFF00, 0xFF0000, kPixel24RedLow}, {8, 0, 0, 0, kPixelOther}};
    for (const auto& c : cases) {
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

// A failed open leaves the screen closed, with the size and depth the screen before it had. Sprites
// are then copied only into surfaces of the screen's format: when all three SetCooperativeLevel calls
// failed, DirectDraw is still in its 16-bit mode and a 24-bit bitmap loads; after the others it is
// back in the 32-bit desktop mode, and a copy for 16 bits would run wild.
TEST_F(ScreenTest, EveryFailedOpenLeavesTheScreenClosedAndItsDepthAsItWas) {
    testbmp::TempFile file("white.bmp", testbmp::Solid(5, 3, 24, 0xFFFFFF));
    for (const char* failure : {"IDirectDraw7::SetCooperativeLevel", "IDirectDraw7::SetDisplayMode",
                                "IDirectDraw7::CreateSurface primary", "IDirectDrawSurface7::GetAttachedSurface"}) {
        SCOPED_TRACE(failure);
        ResetRuntime();
        Open();
        PutRawBlockSprite(3);
        ASSERT_NE(PutSurfaceSprite(7), nullptr);
        faults::Fail(failure, 3);  // the close before the open, the open, the close after it
        EXPECT_EQ(OpenScreen(320, 240, 32, " "), 0);
        EXPECT_TRUE(!screen.primary && !screen.backBuffer && !IsWindowVisible(screen.window) && CursorCount() == 0);
        EXPECT_TRUE(!sprites.spriteTable[3].surface && !sprites.spriteTable[7].surface);
        EXPECT_TRUE(screen.width == 640 && screen.height == 480 && screen.depth == 16);
        const bool stillSixteen = failure == std::string("IDirectDraw7::SetCooperativeLevel");
        EXPECT_EQ(LoadSpriteFromFile(1, file.path.c_str(), kModeOffscreen) != nullptr, stillSixteen);
        EXPECT_TRUE(!stillSixteen || SpritePixels(1)->ReadRaw(4, 2) == 0xFFFFu);
        FreeSprite(1);
    }
}

TEST_F(ScreenTest, CloseGivesBackTheDCAndSpritesThenExclusiveModeThenBackBufferBeforePrimary) {
    Open();
    PutSurfaceSprite(2);
    PutRawBlockSprite(0);
    PutRawBlockSprite(49);
    ASSERT_EQ(screen.backBuffer->GetDC(&screen.backBufferDC), DD_OK);
    const Calls prefixes = {"IDirectDrawSurface7::Release", "IDirectDraw7::SetCooperativeLevel", "ShowCursor", "ShowWindow"};
    EXPECT_EQ(CallsOf(CloseScreen, prefixes),
              (Calls{"IDirectDrawSurface7::Release offscreen", "IDirectDrawSurface7::ReleaseDC backbuffer",
                     "IDirectDraw7::SetCooperativeLevel", "IDirectDrawSurface7::Release backbuffer",
                     "IDirectDrawSurface7::Release primary", "ShowCursor 1", "ShowWindow 0"}));
    EXPECT_TRUE(!screen.backBufferDC && !sprites.spriteTable[0].surface && !sprites.spriteTable[49].surface);
    EXPECT_FALSE(standin::ExclusiveDisplaySet());
    EXPECT_EQ(screen.width, 640) << "kept for a later reopen";
    EXPECT_EQ(CallsOf(CloseScreen, prefixes), (Calls{"IDirectDraw7::SetCooperativeLevel", "ShowCursor 1", "ShowWindow 0"}))
        << "closed again: normal level, hidden";
}

TEST_F(ScreenTest, ColoursPackForTheScreenAndClearFillsOnlyTheBackBuffer) {
    struct { int depth, format, r, g, b; DWORD packed; } cases[] = {
        {16, kPixel565, 255, 255, 255, 0xFFFF}, {15, kPixelOther, 100, 150, 200, 0x3259},
        {16, kPixel555, 0, 255, 0, 0x07E0}, {16, kPixel565, 100, 150, 200, 0x64B9},
        {32, kPixel32BlueLow, 100, 150, 200, 0x6496C8}, {32, kPixel32RedLow, 100, 150, 200, 0xC89664},
        {24, kPixel24RedLow, 255, 0, 0, 0xFF}, {24, kPixel24BlueLow, 255, 0, 0, 0xFF0000},
        {16, kPixel565, 7, 3, 7, 0}, {8, kPixelOther, 255, 255, 255, 0}, {32, kPixel32BlueLow, 256, 0, 0, 0x1000000}};
    for (const auto& c : cases) {
        screen.depth = c.depth;
        screen.pixelFormat = c.format;
        EXPECT_EQ(ToScreenColor(c.r, c.g, c.b), c.packed) << c.depth << "/" << c.format << " " << c.r << "," << c.g;
    }
    EXPECT_NE(ClearScreen(0, 0, 0), DD_OK) << "no screen: an error, and nothing touched";
    Open();
    EXPECT_EQ(CallsOf([] { EXPECT_EQ(ClearScreen(100, 150, 200), DD_OK); }, {"IDirectDrawSurface7::Blt"}),
              (Calls{"IDirectDrawSurface7::Blt backbuffer"}));
    EXPECT_TRUE(Back().ReadRaw(0, 0) == 0x64B9 && Back().ReadRaw(639, 479) == 0x64B9 && Front().ReadRaw(9, 9) == 0);
    faults::LoseDisplay();
    EXPECT_EQ(ClearScreen(0, 0, 0), DDERR_SURFACELOST);
}

using PresentTest = OpenScreenTest;

// The pump empties the queue every frame; a deactivation queued before a frame stops that very
// frame, and nothing is shown until reactivation.
TEST_F(PresentTest, EveryWaitingMessageIsHandledAndNothingShownWhileInactive) {
    FlipBuffers();  // the messages of opening the screen run first
    ASSERT_TRUE(screen.active == 1 && screen.backBuffer->GetDC(&screen.backBufferDC) == DD_OK);
    for (UINT message : {0x0401u, 0x0402u, static_cast<UINT>(WM_ACTIVATE)}) PostMessageA(screen.window, message, 0, 0);
    EXPECT_EQ(CallsOf([] { EXPECT_EQ(FlipBuffers(), screen.backBuffer); },
                      {"IDirectDrawSurface7::ReleaseDC", "DispatchMessageA", "IDirectDrawSurface7::Flip"}),
              (Calls{"IDirectDrawSurface7::ReleaseDC backbuffer", "DispatchMessageA 1025", "DispatchMessageA 1026",
                     "DispatchMessageA 6"}));
    EXPECT_TRUE(screen.active == 0 && screen.backBufferDC == nullptr);
    for (int frame = 0; frame < 3; ++frame) EXPECT_EQ(FlipBuffers(), screen.backBuffer);
    EXPECT_EQ(CountRecorded("IDirectDrawSurface7::Flip"), 0);
    PostMessageA(screen.window, WM_ACTIVATE, WA_ACTIVE, 0);
    FlipBuffers();
    EXPECT_EQ(CountRecorded("IDirectDrawSurface7::Flip"), 1);
}

// Off-screen sprites are read again from their files, in ascending order, into new surfaces; a
// texture gets its picture back in the surface it has (3D sprites borrow it), before the other
// surfaces are restored; system memory is never lost; a sprite whose file is gone is left alone.
// Other flip errors are ignored.
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
    FlipBuffers();  // the messages of opening the screen run first
    std::remove(gone.path.c_str());
    faults::LoseDisplay();
    EXPECT_EQ(CallsOf([] { EXPECT_EQ(FlipBuffers(), screen.backBuffer); },
                      {"IDirectDraw7::SetDisplayMode", "IDirectDraw7::RestoreAllSurfaces", "ShowWindow", "CreateFileA"}),
              (Calls{"IDirectDraw7::SetDisplayMode 640 480 16", "CreateFileA " + a.path,
                     "IDirectDraw7::RestoreAllSurfaces", "ShowWindow 3", "CreateFileA " + a.path,
                     "CreateFileA " + gone.path, "CreateFileA " + b.path}));
    for (auto& [number, old] : before) {
        EXPECT_EQ(SpritePixels(number)->id != old.second, number == 2 || number == 60) << number << " read again";
        EXPECT_STREQ(sprites.spriteTable[number].fileName, old.first.c_str()) << number;
        // Grey, or the file's cyan, everywhere but the sprite whose file is gone.
        EXPECT_EQ(SpritePixels(number)->ReadRaw(3, 3), number == 4 ? 0u : number == 60 ? 0x0410u : 0x8410u) << number;
    }
    faults::Fail("IDirectDrawSurface7::Flip", 1);
    EXPECT_TRUE(CallsOf(FlipBuffers, {"IDirectDraw7::RestoreAllSurfaces"}).empty());
}

}  // namespace
