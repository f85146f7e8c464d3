// The main window. Everything the user sees goes through DirectDraw; the
// window exists so that DirectDraw, DirectInput and DirectSound have a
// window to bind their cooperative levels to, and so that activation
// changes reach the screen system.
#include "screen/window.h"

#include <cstring>

#include "core/runtime.h"
#include "screen/screen.h"

const char kWindowClassName[] = "MultimediaBase Class";

int32_t CreateMainWindow() {
    if (screen.windowCreated || screen.window) return screen.windowCreated;

    WNDCLASSEXA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.cbSize = sizeof(WNDCLASSEXA);
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = runtime.instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kWindowClassName;
    if (!RegisterClassExA(&windowClass)) {
        // A window that failed after its class was registered leaves the
        // class behind; registering it again is refused, but the class is
        // there to use, so a later attempt can still make the window.
        WNDCLASSEXA existing;
        std::memset(&existing, 0, sizeof existing);
        existing.cbSize = sizeof existing;
        if (!GetClassInfoExA(runtime.instance, kWindowClassName, &existing)) return screen.windowCreated;
    }

    screen.window = CreateWindowExA(0, kWindowClassName, "", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 1, 1, nullptr,
                                    nullptr, runtime.instance, nullptr);
    if (screen.window) screen.windowCreated = 1;
    return screen.windowCreated;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ACTIVATE:
            screen.active = LOWORD(wParam) != WA_INACTIVE ? 1 : 0;
            return 0;
        case WM_PAINT: {
            // Nothing to draw: validating the window is all that is needed.
            PAINTSTRUCT paint{};
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            return 1;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_DESTROY:
            // Closed from outside (Task Manager's "End task" sends WM_CLOSE,
            // whose default handling destroys the window): a program without
            // its window can show nothing and has lost its display and
            // keyboard, so the demo ends as Escape would end it.
            screen.windowDestroyed = 1;
            screen.active = 0;
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

int32_t MainWindowDestroyed() { return screen.windowDestroyed; }

HWND PlaceMainWindow(int32_t x, int32_t y, int32_t width, int32_t height, const char* title) {
    SetWindowTextA(screen.window, title);
    MoveWindow(screen.window, x, y, width, height, TRUE);
    return screen.window;
}
