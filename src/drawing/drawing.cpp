// The drawing context: one GDI drawing at a time on a device context that an
// output operation lends, with the runtime's own colour, brush and pen.
#include "drawing/drawing.h"

#include <cstring>

#include "screen/screen.h"

DrawingContext drawing;

namespace {

// BackBufferOutput's descriptor: refilled on every call, copied by BeginDrawing.
DrawingOutput backBufferOutput;

}  // namespace

void InitDrawing() {
    drawing.defaultBrush = CreateSolidBrush(0);
    drawing.defaultPen = CreatePen(PS_SOLID, 0, drawing.frontColor);
}

DrawingOutput* BackBufferOutput() {
    if (screen.backBufferDC || !screen.backBuffer) return nullptr;
    // The lock makes DirectDraw wait for a flip or blit still under way, so
    // GDI starts on a settled back buffer.
    if (screen.backBuffer->Lock(nullptr, &screen.lockedDescription, DDLOCK_WAIT, nullptr) != DD_OK) return nullptr;
    screen.backBuffer->Unlock(nullptr);
    if (screen.backBuffer->GetDC(&screen.backBufferDC) != DD_OK) {
        screen.backBufferDC = nullptr;
        return nullptr;
    }
    backBufferOutput.kind = kOutputLentDC;
    backBufferOutput.dc = screen.backBufferDC;
    backBufferOutput.release = ReleaseBackBufferDC;
    return &backBufferOutput;
}

HDC BeginDrawing(const DrawingOutput* output) {
    EndDrawing();
    if (!output) return drawing.dc;
    drawing.kind = output->kind;
    drawing.release = output->release;
    drawing.mode = 0;
    drawing.dc = output->dc;
    if (drawing.dc) {
        // Text at the current position, which a fresh context has at (0, 0),
        // so successive strings follow each other along one line.
        SetTextAlign(drawing.dc, TA_UPDATECP);
        drawing.savedBrush = SelectObject(drawing.dc, drawing.defaultBrush);
        drawing.savedPen = SelectObject(drawing.dc, drawing.defaultPen);
        SetTextColor(drawing.dc, 0);
    }
    return drawing.dc;
}

void EndDrawing() {
    HDC dc = drawing.dc;
    if (!dc) return;
    // The drawing is over before its context is given back: the release
    // routine may end drawings itself, and must find none open.
    drawing.dc = nullptr;
    SelectObject(dc, drawing.savedBrush);
    SelectObject(dc, drawing.savedPen);
    if (drawing.colorBrush) {
        DeleteObject(drawing.colorBrush);
        drawing.colorBrush = nullptr;
    }
    if (drawing.colorPen) {
        DeleteObject(drawing.colorPen);
        drawing.colorPen = nullptr;
    }
    if (drawing.release) drawing.release();
}

void ReleaseBackBufferDC() {
    HDC dc = screen.backBufferDC;
    if (!dc) return;
    // Cleared first: ending the drawing below calls back in here.
    screen.backBufferDC = nullptr;
    // A drawing still holding the context ends with it; otherwise the next
    // BeginDrawing would end that stale drawing and give back the new context.
    if (drawing.dc == dc) EndDrawing();
    if (screen.backBuffer) screen.backBuffer->ReleaseDC(dc);
}

HGDIOBJ SetDrawingFont(HFONT font) {
    if (!drawing.dc) return nullptr;
    return SelectObject(drawing.dc, font);
}

int32_t SetDrawingMode(int32_t flags) {
    if (!drawing.dc) return 0;
    drawing.mode = flags;
    SetROP2(drawing.dc, (flags & kDrawInvert) ? R2_NOT : R2_COPYPEN);
    // Without a brush of the front colour yet the selection fails and the
    // brush already selected stays.
    SelectObject(drawing.dc, (flags & kDrawNoFill) ? GetStockObject(NULL_BRUSH) : drawing.colorBrush);
    SetBkMode(drawing.dc, (flags & kDrawTransparent) ? TRANSPARENT : OPAQUE);
    return 1;
}

void SetFrontColor(int32_t red, int32_t green, int32_t blue) {
    if (!drawing.dc) return;
    // Components are summed, not masked: an out-of-range red spills into
    // green. The sum wraps at 32 bits, as the colour value itself does.
    drawing.frontColor = static_cast<COLORREF>(static_cast<uint32_t>(red) + static_cast<uint32_t>(green) * 256u +
                                               static_cast<uint32_t>(blue) * 65536u);
    if (!(drawing.mode & kDrawNoFill)) {
        if (HBRUSH brush = CreateSolidBrush(drawing.frontColor)) {
            SelectObject(drawing.dc, brush);
            if (drawing.colorBrush) DeleteObject(drawing.colorBrush);
            drawing.colorBrush = brush;
        }
    }
    if (HPEN pen = CreatePen(PS_SOLID, 0, drawing.frontColor)) {
        SelectObject(drawing.dc, pen);
        if (drawing.colorPen) DeleteObject(drawing.colorPen);
        drawing.colorPen = pen;
    }
    SetTextColor(drawing.dc, drawing.frontColor);
}

void DrawString(const char* text) {
    if (!drawing.dc || !text || !text[0]) return;
    TextOutA(drawing.dc, 0, 0, text, static_cast<int>(std::strlen(text)));
}

COLORREF ReadPixel(int32_t x, int32_t y) {
    if (!drawing.dc) return static_cast<COLORREF>(-1);
    return GetPixel(drawing.dc, x, y);
}
