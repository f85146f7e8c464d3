// STUB: replaced by the drawing context.
#include "drawing/drawing.h"
DrawingContext drawing;
void InitDrawing() {}
DrawingOutput* BackBufferOutput() { return nullptr; }
HDC BeginDrawing(const DrawingOutput*) { return nullptr; }
void EndDrawing() {}
HGDIOBJ SetDrawingFont(HFONT) { return nullptr; }
int32_t SetDrawingMode(int32_t) { return 0; }
void SetFrontColor(int32_t, int32_t, int32_t) {}
void DrawString(const char*) {}
COLORREF ReadPixel(int32_t, int32_t) { return static_cast<COLORREF>(-1); }
