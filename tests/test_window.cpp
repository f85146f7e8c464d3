#include "screen/window.h"
#include "screen_helpers.h"

namespace {

class WindowTest : public ScreenTest {};

TEST_F(WindowTest, CreatesOneHiddenWindowOfTheRegisteredClassAndRegistersOnlyOnce) {
    faults::StartRecording();
    EXPECT_EQ(CreateMainWindow(), 1);
    ASSERT_NE(screen.window, nullptr);
    EXPECT_EQ(screen.window, standin::MainWindowHandle());
    EXPECT_FALSE(IsWindowVisible(screen.window));
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    ASSERT_TRUE(GetClassInfoExA(runtime.instance, "MultimediaBase Class", &wc));
    EXPECT_EQ(wc.lpfnWndProc, &MainWindowProc);
    HWND first = screen.window;
    EXPECT_EQ(CreateMainWindow(), 1);
    EXPECT_EQ(screen.window, first);
    EXPECT_EQ(CountRecorded("CreateWindowExA"), 1);
    EXPECT_EQ(CountRecorded("RegisterClassExA"), 1) << "the second call registers nothing";
}

TEST_F(WindowTest, AFailedRegistrationOrWindowCanBeRetried) {
    for (const char* failure : {"RegisterClassExA", "CreateWindowExA"}) {
        ResetRuntimeRecords();
        MakeHeapAndWorkArea();
        runtime.instance = GetModuleHandleA(nullptr);
        faults::Fail(failure, 1);
        EXPECT_EQ(CreateMainWindow(), 0) << failure;
        EXPECT_EQ(screen.windowCreated, 0) << failure;
        EXPECT_EQ(screen.window, nullptr) << failure;
        EXPECT_EQ(CreateMainWindow(), 1) << failure;
        EXPECT_NE(screen.window, nullptr) << failure;
    }
}

TEST_F(WindowTest, ActivationFollowsOnlyTheLowWordOfWParam) {
    CreateMainWindow();
    struct Case {
        WPARAM wParam;
        int active;
    } cases[] = {{WA_INACTIVE, 0}, {WA_ACTIVE, 1}, {WA_INACTIVE | (1 << 16), 0},
                 {WA_CLICKACTIVE, 1}, {WA_INACTIVE, 0}, {WA_ACTIVE | (1 << 16), 1}};  // high word: minimised
    for (const Case& c : cases) {
        EXPECT_EQ(SendMessageA(screen.window, WM_ACTIVATE, c.wParam, 0), 0);
        EXPECT_EQ(screen.active, c.active) << std::hex << c.wParam;
    }
}

TEST_F(WindowTest, PaintingIsSuppressedAndOtherMessagesTakeTheDefaultRoute) {
    CreateMainWindow();
    EXPECT_EQ(MainWindowProc(screen.window, WM_PAINT, 0, 0), 1);
    EXPECT_EQ(MainWindowProc(screen.window, WM_ERASEBKGND, 0, 0), 1);
    EXPECT_EQ(MainWindowProc(screen.window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("via default")), TRUE);
    char title[32];
    GetWindowTextA(screen.window, title, sizeof title);
    EXPECT_STREQ(title, "via default") << "DefWindowProcA handled it";
    screen.active = 1;
    EXPECT_EQ(MainWindowProc(screen.window, WM_CLOSE, 0, 0), DefWindowProcA(screen.window, WM_CLOSE, 0, 0));
    EXPECT_TRUE(IsWindow(screen.window)) << "closing is not handled: the window stays";
    EXPECT_EQ(screen.active, 1);
}

TEST_F(WindowTest, PlaceSetsTitleAndSize) {
    EXPECT_EQ(PlaceMainWindow(0, 0, 640, 480, "demo"), nullptr) << "no window yet";
    CreateMainWindow();
    EXPECT_EQ(PlaceMainWindow(0, 0, 640, 480, "demo"), screen.window);
    char title[16];
    GetWindowTextA(screen.window, title, sizeof title);
    EXPECT_STREQ(title, "demo");
    RECT r;
    GetWindowRect(screen.window, &r);
    EXPECT_EQ(r.right * 1000 + r.bottom, 640480);
}

TEST_F(WindowTest, ShowingAndHidingTheWindowSetActivationAtOnce) {
    Start();
    screen.active = 0;
    ShowWindow(screen.window, SW_SHOWMAXIMIZED);
    EXPECT_EQ(screen.active, 1) << "WM_ACTIVATE is sent, not posted";
    ShowWindow(screen.window, SW_HIDE);
    EXPECT_EQ(screen.active, 0);
}

}  // namespace
