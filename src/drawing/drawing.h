// GDI drawing on a borrowed device context, and reading pixels back.
#pragma once

#include "platform/api.h"

typedef void (*DrawingRelease)();

struct DrawingOutput {
    int32_t kind;            // 7: a device context lent by its owner
    HDC dc;
    DrawingRelease release;  // gives the device context back
};

constexpr int32_t kOutputLentDC = 7;

struct DrawingContext {
    HDC dc;
    int32_t kind;
    DrawingRelease release;
    int32_t mode;
    COLORREF frontColor;
    HBRUSH colorBrush;
    HPEN colorPen;
    HGDIOBJ savedBrush;
    HGDIOBJ savedPen;
    HBRUSH defaultBrush;
    HPEN defaultPen;
};

extern DrawingContext drawing;

enum DrawingModeFlags : int32_t {
    kDrawTransparent = 1,
    kDrawInvert = 2,
    kDrawNoFill = 4,
};

void InitDrawing();
DrawingOutput* BackBufferOutput();
HDC BeginDrawing(const DrawingOutput* output);
void EndDrawing();
HGDIOBJ SetDrawingFont(HFONT font);
int32_t SetDrawingMode(int32_t flags);
void SetFrontColor(int32_t red, int32_t green, int32_t blue);
void DrawString(const char* text);
COLORREF ReadPixel(int32_t x, int32_t y);
void ReleaseBackBufferDC();
