// Stand-in user32: window classes, top-level windows, the thread's message
// queue, activation, the cursor's display counter and message boxes.
//
// Calls that send messages on Windows (ShowWindow, MoveWindow, SetWindowTextA,
// EnableWindow) call the window procedure before they return, so a procedure
// sees the same re-entrancy it would see there. Host focus changes arrive as
// posted WM_ACTIVATE messages, handled when the program pumps its queue.
//
// A quit asked of the host (Ctrl-C, SIGTERM, the close button,
// RINGSCROLLER_ESCAPE_AFTER) reaches the program as Escape held on its
// keyboard. A program whose keyboard cannot read (no DirectInput, a device
// that would not be made or acquired) would never see it, so then the main
// window is sent WM_CLOSE, as Windows' own "End task" does.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>

#include "platform/api.h"
#include "platform/faults.h"
#include "platform/gdi_internal.h"
#include "platform/host/devices.h"
#include "platform/host/host.h"
#include "platform/standin.h"

namespace {


struct Window {
    std::string className;
    WNDPROC proc = nullptr;
    std::string title;
    DWORD style = 0;
    int x = 0, y = 0, width = 0, height = 0;
    bool visible = false;
    bool enabled = true;
    bool maximized = false;
    bool active = false;
    bool invalid = false;  // needs painting: WM_PAINT comes until it is validated
};

// Classes as registered, given back whole: the fields the stand-in has no use
// for (menus, icons, cursors, extra bytes) are still what Windows acts on.
std::map<std::string, WNDCLASSEXA> classes;
std::map<HWND, Window> windows;
std::deque<MSG> queue;
HWND mainWindow = nullptr;
uintptr_t nextHandle = 0x10000;
DWORD messageTime = 0;
int cursorCount = 0;
bool hostActive = true;
bool hostKeyboard = true;
bool quitPosted = false;
// WM_PAINTs handed out since a window was last validated.
int unvalidatedPaints = 0;
constexpr int kPaintsBeforeHang = 100000;

Window* WindowOf(HWND hwnd) {
    auto it = windows.find(hwnd);
    return it == windows.end() ? nullptr : &it->second;
}

LPARAM MakeLParam(int low, int high) {
    return static_cast<LPARAM>(static_cast<DWORD>(static_cast<WORD>(low)) |
                               (static_cast<DWORD>(static_cast<WORD>(high)) << 16));
}

// The procedure may touch the window table (SetWindowTextA from inside a
// handler), so look the procedure up first and call it with nothing held.
LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = WindowOf(hwnd);
    if (!w || !w->proc) return 0;
    WNDPROC proc = w->proc;
    return proc(hwnd, message, wParam, lParam);
}

void Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = ++messageTime;
    queue.push_back(msg);
}

// Makes the window the active one, as SetActiveWindow does: a window that
// becomes active is told so before the call returns.
void Activate(HWND hwnd) {
    Window* w = WindowOf(hwnd);
    if (!w || w->active || !hostActive) return;
    w->active = true;
    Send(hwnd, WM_ACTIVATE, WA_ACTIVE, 0);
}

void Deactivate(HWND hwnd) {
    Window* w = WindowOf(hwnd);
    if (!w || !w->active) return;
    w->active = false;
    Send(hwnd, WM_ACTIVATE, WA_INACTIVE, 0);
}

bool InFilter(const MSG& msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    if (hwnd && msg.hwnd != hwnd) return false;
    if (filterMin == 0 && filterMax == 0) return true;
    return msg.message >= filterMin && msg.message <= filterMax;
}

}  // namespace

namespace standin {

void ResetUser() {
    classes.clear();
    windows.clear();
    queue.clear();
    mainWindow = nullptr;
    messageTime = 0;
    cursorCount = 0;
    hostActive = true;
    hostKeyboard = true;
    quitPosted = false;
    unvalidatedPaints = 0;
}

void HostActivationChanged(bool inFront) {
    hostActive = inFront;
    Window* w = WindowOf(mainWindow);
    if (inFront) {
        // Only a shown window is given the focus back; a hidden one stays
        // as it is, as on Windows.
        if (w && w->visible && !w->active) {
            w->active = true;
            Post(mainWindow, WM_ACTIVATE, WA_ACTIVE, 0);
        }
        return;
    }
    if (w && w->active) {
        w->active = false;
        Post(mainWindow, WM_ACTIVATE, WA_INACTIVE, 0);
    }
    // Another program takes the display: an exclusive full-screen owner
    // loses its video memory.
    if (ExclusiveDisplaySet()) LoseAllSurfaces();
}

void HostKeyboardFocusChanged(bool focused) { hostKeyboard = focused; }

void HostFocusChanged(bool inFront) {
    HostKeyboardFocusChanged(inFront);
    HostActivationChanged(inFront);
}

void HostExposed() {
    if (Window* w = WindowOf(mainWindow)) w->invalid = true;
}

HWND MainWindowHandle() { return mainWindow; }

bool WindowHasKeyboard(HWND window) { return hostActive && hostKeyboard && WindowOf(window) != nullptr; }

bool HostInForeground() { return hostActive; }

}  // namespace standin

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* windowClass) {
    if (faults::Hit("RegisterClassExA")) return 0;
    if (!windowClass || windowClass->cbSize != sizeof(WNDCLASSEXA) || !windowClass->lpfnWndProc ||
        !windowClass->lpszClassName || !*windowClass->lpszClassName) {
        standin::TraceFailure("RegisterClassExA (invalid class)", E_INVALIDARG);
        return 0;
    }
    std::string name = windowClass->lpszClassName;
    if (classes.count(name)) {
        standin::TraceFailure("RegisterClassExA " + name + " (already registered)", E_FAIL);
        return 0;
    }
    classes[name] = *windowClass;
    return static_cast<ATOM>(0xC000 + classes.size());
}

BOOL WINAPI GetClassInfoExA(HINSTANCE, LPCSTR className, WNDCLASSEXA* info) {
    if (!className || !info) return FALSE;
    auto it = classes.find(className);
    if (it == classes.end()) return FALSE;
    const UINT size = info->cbSize;
    *info = it->second;
    info->cbSize = size;
    info->lpszClassName = className;
    return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                            int height, HWND parent, HMENU, HINSTANCE, LPVOID) {
    if (faults::Hit("CreateWindowExA")) return nullptr;
    if (!className || !classes.count(className)) {
        standin::TraceFailure(std::string("CreateWindowExA ") + (className ? className : "(null)") +
                                  " (class not registered)",
                              E_FAIL);
        return nullptr;
    }
    if (parent && !WindowOf(parent)) return nullptr;
    HWND hwnd = reinterpret_cast<HWND>(nextHandle);
    nextHandle += 0x10;
    Window w;
    w.className = className;
    w.proc = classes[className].lpfnWndProc;
    w.title = windowName ? windowName : "";
    w.style = style & ~WS_VISIBLE;
    w.x = x;
    w.y = y;
    w.width = width;
    w.height = height;
    w.enabled = !(style & WS_DISABLED);
    windows[hwnd] = w;
    if (!parent && !mainWindow) mainWindow = hwnd;
    if (Send(hwnd, WM_CREATE, 0, 0) == -1) {
        windows.erase(hwnd);
        if (mainWindow == hwnd) mainWindow = nullptr;
        return nullptr;
    }
    if (style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
    return hwnd;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
        case WM_SETTEXT: {
            Window* w = WindowOf(window);
            if (!w) return FALSE;
            w->title = lParam ? reinterpret_cast<const char*>(lParam) : "";
            return TRUE;
        }
        case WM_PAINT: {
            PAINTSTRUCT ps{};
            BeginPaint(window, &ps);
            EndPaint(window, &ps);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        default:
            return 0;
    }
}

BOOL WINAPI DestroyWindow(HWND window) {
    faults::Record("DestroyWindow");
    if (!WindowOf(window)) return FALSE;
    Deactivate(window);
    Send(window, WM_DESTROY, 0, 0);
    windows.erase(window);
    if (mainWindow == window) mainWindow = nullptr;
    return TRUE;
}

BOOL WINAPI GetUpdateRect(HWND window, LPRECT rect, BOOL) {
    Window* w = WindowOf(window);
    bool invalid = w && w->invalid;
    if (rect) *rect = invalid ? RECT{0, 0, w->width, w->height} : RECT{0, 0, 0, 0};
    return invalid ? TRUE : FALSE;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    faults::Record("PeekMessageA");
    standin::host::PumpEvents();
    if (!quitPosted && mainWindow && standin::host::QuitRequested() && !standin::KeyboardReadsQuit()) {
        quitPosted = true;
        Post(mainWindow, WM_CLOSE, 0, 0);
    }
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (!InFilter(*it, window, filterMin, filterMax)) continue;
        if (msg) *msg = *it;
        if (removeFlags & PM_REMOVE) queue.erase(it);
        return TRUE;
    }
    // With the queue empty, a window that needs painting gets WM_PAINT; it is
    // never queued, so it comes again at every peek until BeginPaint validates
    // the window, as on Windows. A program whose procedure never validates
    // would spin here for ever; the stand-in says so and stops instead.
    for (auto& [hwnd, w] : windows) {
        MSG paint{};
        paint.hwnd = hwnd;
        paint.message = WM_PAINT;
        paint.time = messageTime;
        if (!w.invalid || !w.visible || !InFilter(paint, window, filterMin, filterMax)) continue;
        if (++unvalidatedPaints > kPaintsBeforeHang) {
            std::fprintf(stderr, "ringscroller: WM_PAINT never validates the window: the message loop would hang\n");
            std::abort();
        }
        if (msg) *msg = paint;
        return TRUE;
    }
    if (!window && filterMin == 0 && filterMax == 0) {
        standin::host::CountFrame();
        if (standin::FrameLimitPassed()) throw faults::ProcessExit{faults::kRunStopped};
        Window* main = WindowOf(mainWindow);
        standin::host::MessageLoopPassed(main && main->active);
    }
    return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG*) { return FALSE; }

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (!msg) return 0;
    faults::Record("DispatchMessageA " + std::to_string(msg->message));
    return Send(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window && !WindowOf(window)) return FALSE;
    Post(window, message, wParam, lParam);
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return Send(window, message, wParam, lParam);
}

BOOL WINAPI ShowWindow(HWND window, int command) {
    faults::Record("ShowWindow " + std::to_string(command));
    Window* w = WindowOf(window);
    if (!w) return FALSE;
    BOOL wasVisible = w->visible ? TRUE : FALSE;
    if (command == SW_HIDE) {
        if (w->visible) {
            Send(window, WM_SHOWWINDOW, FALSE, 0);
            if ((w = WindowOf(window))) w->visible = false;
            // Hiding the active window hands activation away from it.
            Deactivate(window);
        }
        return wasVisible;
    }
    if (!w->visible) {
        Send(window, WM_SHOWWINDOW, TRUE, 0);
        if (!(w = WindowOf(window))) return wasVisible;
        w->visible = true;
        w->invalid = true;
    }
    if (command == SW_SHOWMAXIMIZED && !w->maximized) {
        w->maximized = true;
        Send(window, WM_SIZE, 2 /* SIZE_MAXIMIZED */, MakeLParam(w->width, w->height));
    }
    if (command == SW_MINIMIZE || command == SW_SHOWMINIMIZED) {
        Deactivate(window);
        return wasVisible;
    }
    Activate(window);
    return wasVisible;
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    faults::Record(std::string("EnableWindow ") + (enable ? "1" : "0"));
    Window* w = WindowOf(window);
    if (!w) return FALSE;
    BOOL wasDisabled = w->enabled ? FALSE : TRUE;
    bool now = enable != FALSE;
    if (w->enabled != now) {
        w->enabled = now;
        Send(window, WM_ENABLE, now ? TRUE : FALSE, 0);
    }
    return wasDisabled;
}

BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
    faults::Record("MoveWindow " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(width) + " " +
                   std::to_string(height));
    Window* w = WindowOf(window);
    if (!w) return FALSE;
    w->x = x;
    w->y = y;
    w->width = width;
    w->height = height;
    if (repaint) w->invalid = true;
    Send(window, WM_MOVE, 0, MakeLParam(x, y));
    Send(window, WM_SIZE, 0 /* SIZE_RESTORED */, MakeLParam(width, height));
    return TRUE;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    faults::Record("SetWindowTextA");
    if (!WindowOf(window)) return FALSE;
    return Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR text, int maxCount) {
    Window* w = WindowOf(window);
    if (!w || !text || maxCount <= 0) return 0;
    size_t n = std::min(w->title.size(), static_cast<size_t>(maxCount - 1));
    std::memcpy(text, w->title.data(), n);
    text[n] = 0;
    return static_cast<int>(n);
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    Window* w = WindowOf(window);
    if (!w || !rect) return FALSE;
    *rect = RECT{w->x, w->y, w->x + w->width, w->y + w->height};
    return TRUE;
}

int WINAPI ShowCursor(BOOL show) {
    faults::Record(std::string("ShowCursor ") + (show ? "1" : "0"));
    cursorCount += show ? 1 : -1;
    standin::host::CursorShown(cursorCount >= 0);
    return cursorCount;
}

HDC WINAPI BeginPaint(HWND window, PAINTSTRUCT* paint) {
    Window* w = WindowOf(window);
    if (!w || !paint) return nullptr;
    *paint = PAINTSTRUCT{};
    w->invalid = false;
    unvalidatedPaints = 0;
    // Everything visible comes through DirectDraw; the window itself has no
    // pixels, so its paint context draws nowhere.
    paint->hdc = standin::CreateSurfaceDC(nullptr);
    paint->rcPaint = RECT{0, 0, w->width, w->height};
    return paint->hdc;
}

BOOL WINAPI EndPaint(HWND, const PAINTSTRUCT* paint) {
    if (!paint) return FALSE;
    if (paint->hdc) standin::DeleteSurfaceDC(paint->hdc);
    return TRUE;
}

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "Error", text ? text : "");
    return 1;  // IDOK
}

BOOL WINAPI IsWindow(HWND window) { return WindowOf(window) ? TRUE : FALSE; }

BOOL WINAPI IsWindowVisible(HWND window) {
    Window* w = WindowOf(window);
    return w && w->visible ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND window) {
    Window* w = WindowOf(window);
    return w && w->enabled ? TRUE : FALSE;
}

HWND WINAPI GetActiveWindow() {
    Window* w = WindowOf(mainWindow);
    return w && w->active ? mainWindow : nullptr;
}
