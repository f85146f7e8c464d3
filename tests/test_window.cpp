#include "screen/window.h"
#include "screen_helpers.h"

namespace {

class WindowTest : public ScreenTest {
protected:
    // Runs the program's message pump once, as presenting a frame does.
    void Pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
};

TEST_F(WindowTest, CreatesOneHiddenTinyWindowOfTheRegisteredClass) {
    faults::StartRecording();
    EXPECT_EQ(CreateMainWindow(), 1);
    ASSERT_NE(screen.window, nullptr);
    EXPECT_EQ(screen.windowCreated, 1);
    EXPECT_EQ(screen.window, standin::MainWindowHandle());
    EXPECT_FALSE(IsWindowVisible(screen.window));
    RECT r;
    ASSERT_TRUE(GetWindowRect(screen.window, &r));
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 1);
    EXPECT_EQ(r.bottom, 1);
    char title[4] = {'x', 0};
    EXPECT_EQ(GetWindowTextA(screen.window, title, sizeof title), 0);

    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    ASSERT_TRUE(GetClassInfoExA(runtime.instance, "MultimediaBase Class", &wc));
    EXPECT_EQ(wc.lpfnWndProc, &MainWindowProc);
    EXPECT_EQ(wc.hbrBackground, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));

    // Safe to call again: the same window, nothing new made.
    HWND first = screen.window;
    EXPECT_EQ(CreateMainWindow(), 1);
    EXPECT_EQ(screen.window, first);
    EXPECT_EQ(CountRecorded("CreateWindowExA"), 1);
    EXPECT_EQ(CountRecorded("RegisterClassExA"), 1);
}

TEST_F(WindowTest, AFailedRegistrationCanBeRetried) {
    faults::Fail("RegisterClassExA", 1);
    EXPECT_EQ(CreateMainWindow(), 0);
    EXPECT_EQ(screen.windowCreated, 0);
    EXPECT_EQ(screen.window, nullptr);
    EXPECT_EQ(CreateMainWindow(), 1);
}

TEST_F(WindowTest, AFailedWindowCanBeRetriedAlthoughTheClassStaysRegistered) {
    faults::Fail("CreateWindowExA", 1);
    EXPECT_EQ(CreateMainWindow(), 0);
    EXPECT_EQ(screen.windowCreated, 0);
    EXPECT_EQ(CreateMainWindow(), 1);
    EXPECT_NE(screen.window, nullptr);
}

TEST_F(WindowTest, ActivationFollowsTheLowWordOfWParam) {
    CreateMainWindow();
    EXPECT_EQ(SendMessageA(screen.window, WM_ACTIVATE, WA_ACTIVE, 0), 0);
    EXPECT_EQ(screen.active, 1);
    EXPECT_EQ(MainWindowProc(screen.window, WM_ACTIVATE, WA_INACTIVE | (1 << 16), 0), 0);
    EXPECT_EQ(screen.active, 0) << "the minimised flag in the high word is ignored";
    MainWindowProc(screen.window, WM_ACTIVATE, WA_CLICKACTIVE, 0);
    EXPECT_EQ(screen.active, 1);
}

TEST_F(WindowTest, PaintingIsSuppressedAndOtherMessagesTakeTheDefaultRoute) {
    CreateMainWindow();
    EXPECT_EQ(MainWindowProc(screen.window, WM_PAINT, 0, 0), 1);
    EXPECT_EQ(MainWindowProc(screen.window, WM_ERASEBKGND, 0, 0), 1);
    EXPECT_EQ(MainWindowProc(screen.window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("via default")), TRUE);
    char title[32];
    GetWindowTextA(screen.window, title, sizeof title);
    EXPECT_STREQ(title, "via default");
    EXPECT_EQ(MainWindowProc(screen.window, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(screen.window)) << "closing is not handled: the window stays";
}

TEST_F(WindowTest, PlaceSetsTitleAndSizeAndReturnsTheWindow) {
    EXPECT_EQ(PlaceMainWindow(0, 0, 640, 480, "demo"), nullptr) << "no window yet";
    CreateMainWindow();
    faults::StartRecording();
    EXPECT_EQ(PlaceMainWindow(0, 0, 640, 480, "demo"), screen.window);
    EXPECT_EQ(faults::RecordedMatching({"SetWindowTextA", "MoveWindow"}),
              (std::vector<std::string>{"SetWindowTextA", "MoveWindow 0 0 640 480"}));
    char title[16];
    GetWindowTextA(screen.window, title, sizeof title);
    EXPECT_STREQ(title, "demo");
    RECT r;
    GetWindowRect(screen.window, &r);
    EXPECT_EQ(r.right, 640);
    EXPECT_EQ(r.bottom, 480);
}

TEST_F(WindowTest, FocusChangesReachTheProcedureOnlyThroughThePump) {
    Open();
    faults::SetForeground(false);
    EXPECT_EQ(screen.active, 1) << "posted, not sent";
    Pump();
    EXPECT_EQ(screen.active, 0);
    faults::SetForeground(true);
    EXPECT_EQ(screen.active, 0);
    Pump();
    EXPECT_EQ(screen.active, 1);
}

TEST_F(WindowTest, ShowingTheWindowActivatesItAtOnce) {
    Start();
    screen.active = 0;
    ShowWindow(screen.window, SW_SHOWMAXIMIZED);
    EXPECT_EQ(screen.active, 1) << "WM_ACTIVATE is sent, not posted";
    ShowWindow(screen.window, SW_HIDE);
    EXPECT_EQ(screen.active, 0) << "hiding the active window deactivates it";
}

}  // namespace
