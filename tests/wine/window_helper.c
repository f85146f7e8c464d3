/* Acts on the demo's main window from another Windows program, as the user
 * or another program would: takes the foreground away and gives it back,
 * posts WM_CLOSE, reads a message box. Built with MinGW-w64 by the Wine
 * test and run in the same Wine prefix as the demo.
 *
 *   window_helper away MS [back]  open a window of its own, take the
 *                                 foreground, keep it MS milliseconds, then
 *                                 (with "back") hand it to the main window
 *                                 itself; without "back" it just closes,
 *                                 leaving the way back to the window manager
 *   window_helper close           post WM_CLOSE to the main window
 *   window_helper message CAPTION print the texts inside the message box
 *                                 captioned CAPTION, one a line
 *
 * Every line it prints starts with a word the test can match. Exit codes:
 * 0 done, 2 bad arguments, 3 the window looked for is not there, 4 the
 * system refused what was asked (the foreground, a post). Every wait is
 * bounded. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char kMainClass[] = "MultimediaBase Class";
enum { kFound = 0, kUsage = 2, kMissing = 3, kRefused = 4 };

/* The demo's window exists from start-up on, but a slow start may not have
 * made it yet when the helper runs. A dialog is found before it is filled
 * in; it is shown once it is, so `shown` waits for that. */
static HWND wait_for_window(const char* cls, const char* title, int shown, DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindWindowA(cls, title);
        if (window && shown && !IsWindowVisible(window)) window = NULL;
        if (window || GetTickCount() - start >= ms) return window;
        Sleep(50);
    }
}

/* A foreground change is carried out by messages to both threads; the
 * helper's own window must go on answering them meanwhile. */
static void pump_for(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    } while (GetTickCount() - start < ms);
}

/* Waits, pumping, until `window` is the foreground window. */
static int wait_for_foreground(HWND window, DWORD ms) {
    DWORD start = GetTickCount();
    do {
        pump_for(20);
        if (GetForegroundWindow() == window) return 1;
    } while (GetTickCount() - start < ms);
    return 0;
}

static void print_main_state(const char* when, HWND main_window) {
    printf("%s: foreground=%s minimized=%d\n", when,
           GetForegroundWindow() == main_window ? "main" : "other", IsIconic(main_window) ? 1 : 0);
    fflush(stdout);
}

static LRESULT CALLBACK helper_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

static int take_foreground(DWORD ms, int give_back) {
    HWND main_window = wait_for_window(kMainClass, NULL, 0, 10000);
    if (!main_window) {
        printf("missing: no window of class \"%s\"\n", kMainClass);
        return kMissing;
    }
    WNDCLASSA cls;
    memset(&cls, 0, sizeof cls);
    cls.lpfnWndProc = helper_proc;
    cls.hInstance = GetModuleHandleA(NULL);
    cls.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    cls.lpszClassName = "ringscroller test helper";
    RegisterClassA(&cls);
    HWND own = CreateWindowExA(0, cls.lpszClassName, "helper", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 240, 160,
                               NULL, NULL, cls.hInstance, NULL);
    if (!own) {
        printf("refused: no window of its own\n");
        return kRefused;
    }
    SetForegroundWindow(own);
    if (!wait_for_foreground(own, 5000)) {
        printf("refused: the foreground stayed with another window\n");
        return kRefused;
    }
    /* The test watches the screen from now on. */
    printf("taken: the foreground\n");
    fflush(stdout);
    pump_for(ms);
    print_main_state("away", main_window);
    int result = kFound;
    if (give_back) {
        SetForegroundWindow(main_window);
        if (!wait_for_foreground(main_window, 5000)) result = kRefused;
        print_main_state("back", main_window);
    }
    DestroyWindow(own);
    pump_for(200);
    return result;
}

static int post_close(void) {
    HWND main_window = wait_for_window(kMainClass, NULL, 0, 10000);
    if (!main_window) {
        printf("missing: no window of class \"%s\"\n", kMainClass);
        return kMissing;
    }
    if (!PostMessageA(main_window, WM_CLOSE, 0, 0)) {
        printf("refused: PostMessage failed with %lu\n", GetLastError());
        return kRefused;
    }
    printf("posted: WM_CLOSE\n");
    return kFound;
}

static BOOL CALLBACK print_text(HWND child, LPARAM unused) {
    (void)unused;
    char text[512];
    /* The buttons a message box does not use are there, hidden. */
    if (IsWindowVisible(child) && GetWindowTextA(child, text, sizeof text) > 0) printf("text: %s\n", text);
    return TRUE;
}

/* A message box is a dialog ("#32770") with the caption as its title; its
 * message and its buttons are child windows holding their texts. */
static int print_message_box(const char* caption) {
    HWND box = wait_for_window("#32770", caption, 1, 30000);
    if (!box) {
        printf("missing: no message box captioned \"%s\"\n", caption);
        return kMissing;
    }
    EnumChildWindows(box, print_text, 0);
    fflush(stdout);
    return kFound;
}

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "close") == 0) return post_close();
    if (argc == 3 && strcmp(argv[1], "message") == 0) return print_message_box(argv[2]);
    if ((argc == 3 || argc == 4) && strcmp(argv[1], "away") == 0) {
        int give_back = argc == 4 && strcmp(argv[3], "back") == 0;
        if (argc == 4 && !give_back) return kUsage;
        return take_foreground((DWORD)strtoul(argv[2], NULL, 10), give_back);
    }
    fprintf(stderr, "usage: window_helper away MS [back] | close | message CAPTION\n");
    return kUsage;
}
