// STUB: replaced by the window/queue implementation.
#include "platform/api.h"
#include "platform/standin.h"
#include <cstdio>
namespace standin {
void ResetUser() {}
void HostFocusChanged(bool) {}
HWND MainWindowHandle() { return nullptr; }
bool WindowInForeground(HWND) { return true; }
}  // namespace standin
int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "Error", text ? text : "");
    return 1;
}
