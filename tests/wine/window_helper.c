// Acts on the demo's main window from another Windows program, as the user or another program
// would. Built with MinGW-w64 by the Wine test and run in the demo's Wine prefix.
//
//   window_helper away MS          opens a window of its own, takes the foreground, keeps it MS
//                                  milliseconds, then closes, leaving the way back to the
//                                  window manager
//   window_helper close            posts WM_CLOSE to the main window
//   window_helper message CAPTION  prints the texts in the message box captioned CAPTION
//
// Each line it prints starts with a word the test matches. Exit codes: 0 done, 1 the window is
// not there or the system refused (the foreground, a post), 2 bad arguments.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int say(const char* word, const char* text, int code) {
    printf("%s: %s\n", word, text);
    fflush(stdout);
    return code;
}

// A slow start may not have made the window yet. A dialog is found before it is filled in, and
// shown once it is.
static HWND wait_for_window(const char* cls, const char* title, int shown) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(50)) {
        HWND window = FindWindowA(cls, title);
        if (window && (!shown || IsWindowVisible(window))) return window;
    }
    return NULL;
}

// A foreground change is carried out by messages to both threads: the helper's own window must
// go on answering them.
static void pump_for(DWORD ms) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(10)) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
}

// Any top-level window can hold the foreground; a system class needs no registering.
static int take_foreground(HWND main_window, DWORD ms) {
    HWND own = CreateWindowExA(0, "STATIC", "helper", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 240, 160, NULL, NULL,
                               GetModuleHandleA(NULL), NULL);
    if (!own) return say("refused", "no window of its own", 1);
    SetForegroundWindow(own);
    for (DWORD start = GetTickCount(); GetForegroundWindow() != own; pump_for(20))
        if (GetTickCount() - start > 5000) return say("refused", "the foreground stayed with another window", 1);
    say("taken", "the foreground", 0);  // the test watches the screen from now on
    pump_for(ms);
    say("away", GetForegroundWindow() == main_window ? "foreground=main" : "foreground=other", 0);
    DestroyWindow(own);
    pump_for(200);
    return 0;
}

// The buttons a message box does not use are there, hidden.
static BOOL CALLBACK print_text(HWND child, LPARAM unused) {
    char text[512];
    if (IsWindowVisible(child) && GetWindowTextA(child, text, sizeof text) > 0) say("text", text, 0);
    return TRUE;
}

int main(int argc, char** argv) {
    const char* what = argc > 1 ? argv[1] : "";
    if (argc == 3 && strcmp(what, "message") == 0) {
        // A message box is a dialog ("#32770") titled with its caption; its message and its
        // buttons are child windows holding their texts.
        HWND box = wait_for_window("#32770", argv[2], 1);
        if (!box) return say("missing", "no message box with that caption", 1);
        EnumChildWindows(box, print_text, 0);
        return 0;
    }
    int away = argc == 3 && strcmp(what, "away") == 0;
    if (!away && !(argc == 2 && strcmp(what, "close") == 0))
        return say("usage", "window_helper away MS | close | message CAPTION", 2);
    HWND main_window = wait_for_window("MultimediaBase Class", NULL, 0);
    if (!main_window) return say("missing", "no window of class \"MultimediaBase Class\"", 1);
    if (away) return take_foreground(main_window, strtoul(argv[2], NULL, 10));
    return PostMessageA(main_window, WM_CLOSE, 0, 0) ? say("posted", "WM_CLOSE", 0) : say("refused", "PostMessage failed", 1);
}
