// The screen system: the main window, the DirectDraw object, and the one
// exclusive full-screen display with its primary surface and back buffer.
#pragma once

#include "platform/api.h"

// Pixel layout of the open screen.
enum PixelFormatCode : int32_t {
    kPixelOther = 1,    // any depth but 16, 24 or 32
    kPixel555 = 2,      // 16 bits, 5-5-5
    kPixel565 = 3,      // 16 bits, 5-6-5
    kPixel24RedLow = 4,
    kPixel24BlueLow = 5,
    kPixel32RedLow = 6,
    kPixel32BlueLow = 7,
};

struct ScreenState {
    IDirectDraw7* directDraw;
    HMODULE directDrawLibrary;
    int32_t directDrawUsers;
    HWND window;
    int32_t windowCreated;
    int32_t active;
    HWND savedWindow;
    int32_t systemStarted;
    IDirectDrawSurface7* primary;
    IDirectDrawSurface7* backBuffer;
    int32_t width;
    int32_t height;
    int32_t depth;
    int32_t pixelFormat;
    DDSURFACEDESC2 lockedDescription;
    DDBLTFX fillDescription;
    HDC backBufferDC;
    int32_t windowDestroyed;  // 1 once the main window is gone (WM_DESTROY)
};

extern ScreenState screen;

void* InitScreenSystem();
int32_t OpenScreen(int32_t width, int32_t height, int32_t depth, const char* title);
int32_t CloseScreen();
void ShutdownScreenSystem();
IDirectDraw7* AcquireDirectDraw();
void ReleaseDirectDraw();
int32_t CreateFlipChain();
void BlankSurfaces();
void DetectPixelFormat();
