// The main window: created hidden on first need, it only tracks activation.
#pragma once

#include "platform/api.h"

extern const char kWindowClassName[];

int32_t CreateMainWindow();
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HWND PlaceMainWindow(int32_t x, int32_t y, int32_t width, int32_t height, const char* title);
// 1 once the main window has been destroyed (closed from outside).
int32_t MainWindowDestroyed();
