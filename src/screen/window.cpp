// STUB: replaced by the main window.
#include "screen/window.h"
const char kWindowClassName[] = "MultimediaBase Class";
int32_t CreateMainWindow() { return 0; }
LRESULT CALLBACK MainWindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
HWND PlaceMainWindow(int32_t, int32_t, int32_t, int32_t, const char*) { return nullptr; }
