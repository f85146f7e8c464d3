// Stand-in gdi32, the objects half: device contexts over DirectDraw
// surfaces, stock and created brushes and pens, object selection, Rectangle
// and the context's simple attributes. Fonts and text live in gdi_text.cpp.
//
// Handles are the objects' addresses, but every use checks them against the
// tables of live contexts and objects first: a stale or made-up handle fails
// the call as it would on Windows instead of touching freed memory.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/api.h"
#include "platform/faults.h"
#include "platform/gdi_internal.h"
#include "platform/standin.h"

namespace standin {

namespace {

// Function-local so that stock objects made during static start-up of
// other files still find it.
std::set<GdiObject*>& LiveObjects() {
    static std::set<GdiObject*> live;
    return live;
}

std::set<DeviceContext*> liveContexts;

constexpr int kStockCount = DEFAULT_GUI_FONT + 1;
GdiObject* stockObjects[kStockCount] = {};

BrushObject* MakeStockBrush(COLORREF color, bool hollow) {
    auto* b = new BrushObject;
    b->color = color;
    b->hollow = hollow;
    b->stock = true;
    return b;
}

PenObject* MakeStockPen(int style, COLORREF color) {
    auto* p = new PenObject;
    p->style = style;
    p->color = color;
    p->stock = true;
    return p;
}

GdiObject* Stock(int index) {
    if (index < 0 || index >= kStockCount) return nullptr;
    if (!stockObjects[index]) {
        switch (index) {
            case WHITE_BRUSH: stockObjects[index] = MakeStockBrush(0xFFFFFF, false); break;
            case LTGRAY_BRUSH: stockObjects[index] = MakeStockBrush(0xC0C0C0, false); break;
            case GRAY_BRUSH: stockObjects[index] = MakeStockBrush(0x808080, false); break;
            case DKGRAY_BRUSH: stockObjects[index] = MakeStockBrush(0x404040, false); break;
            case BLACK_BRUSH: stockObjects[index] = MakeStockBrush(0x000000, false); break;
            case NULL_BRUSH: stockObjects[index] = MakeStockBrush(0x000000, true); break;
            case WHITE_PEN: stockObjects[index] = MakeStockPen(PS_SOLID, 0xFFFFFF); break;
            case BLACK_PEN: stockObjects[index] = MakeStockPen(PS_SOLID, 0x000000); break;
            case NULL_PEN: stockObjects[index] = MakeStockPen(PS_NULL, 0x000000); break;
            default: return nullptr;  // stock fonts belong to the text half
        }
    }
    return stockObjects[index];
}

}  // namespace

GdiObject::GdiObject(GdiKind k) : kind(k) { LiveObjects().insert(this); }

GdiObject::~GdiObject() { LiveObjects().erase(this); }

HDC CreateSurfaceDC(Surface* surface) {
    auto* dc = new DeviceContext;
    dc->surface = surface;
    dc->brush = static_cast<BrushObject*>(Stock(WHITE_BRUSH));
    dc->pen = static_cast<PenObject*>(Stock(BLACK_PEN));
    liveContexts.insert(dc);
    return reinterpret_cast<HDC>(dc);
}

void DeleteSurfaceDC(HDC handle) {
    DeviceContext* dc = DcOf(handle);
    if (!dc) return;
    liveContexts.erase(dc);
    delete dc;
}

DeviceContext* DcOf(HDC handle) {
    auto* dc = reinterpret_cast<DeviceContext*>(handle);
    return liveContexts.count(dc) ? dc : nullptr;
}

GdiObject* ObjectOf(HGDIOBJ handle) {
    auto* object = static_cast<GdiObject*>(handle);
    return LiveObjects().count(object) ? object : nullptr;
}

void FillArea(Surface& s, int left, int top, int right, int bottom, COLORREF color) {
    // Clipped once rather than per pixel, the colour converted once too.
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, s.width);
    bottom = std::min(bottom, s.height);
    const DWORD pixel = ColorToPixel(s.layout, color);
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) s.WriteRaw(x, y, pixel);
}

void ResetGdi() {
    for (DeviceContext* dc : liveContexts) delete dc;
    liveContexts.clear();
    std::vector<GdiObject*> made;
    for (GdiObject* o : LiveObjects())
        if (!o->stock) made.push_back(o);
    for (GdiObject* o : made) delete o;
}

}  // namespace standin

using standin::BrushObject;
using standin::DeviceContext;
using standin::GdiKind;
using standin::GdiObject;
using standin::PenObject;

HGDIOBJ WINAPI GetStockObject(int object) { return standin::Stock(object); }

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    DeviceContext* context = standin::DcOf(dc);
    GdiObject* o = standin::ObjectOf(object);
    if (!context || !o) return nullptr;
    faults::Record(o->kind == GdiKind::brush ? "SelectObject brush" : o->kind == GdiKind::pen ? "SelectObject pen"
                                                                                              : "SelectObject font");
    switch (o->kind) {
        case GdiKind::brush: {
            HGDIOBJ previous = context->brush;
            context->brush = static_cast<BrushObject*>(o);
            return previous;
        }
        case GdiKind::pen: {
            HGDIOBJ previous = context->pen;
            context->pen = static_cast<PenObject*>(o);
            return previous;
        }
        case GdiKind::font: {
            HGDIOBJ previous = context->font;
            context->font = static_cast<standin::FontObject*>(o);
            return previous;
        }
    }
    return nullptr;
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
    GdiObject* o = standin::ObjectOf(object);
    if (!o) return FALSE;
    const char* kind = o->kind == GdiKind::brush ? "brush" : o->kind == GdiKind::pen ? "pen" : "font";
    faults::Record(std::string("DeleteObject ") + kind);
    if (o->stock) return TRUE;
    // Windows leaves a selected object alive until it is deselected; here
    // deleting it would leave the context pointing at freed memory, so it
    // is refused instead.
    for (DeviceContext* dc : standin::liveContexts) {
        if (dc->brush == o || dc->pen == o || dc->font == o) return FALSE;
    }
    delete o;
    return TRUE;
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
    if (faults::Hit("CreateSolidBrush")) return nullptr;
    auto* b = new BrushObject;
    b->color = color & 0x00FFFFFF;
    return reinterpret_cast<HBRUSH>(static_cast<GdiObject*>(b));
}

HPEN WINAPI CreatePen(int style, int, COLORREF color) {
    if (faults::Hit("CreatePen")) return nullptr;
    if (style < PS_SOLID || style > 8) return nullptr;
    auto* p = new PenObject;
    p->style = style;
    p->color = color & 0x00FFFFFF;
    return reinterpret_cast<HPEN>(static_cast<GdiObject*>(p));
}

BOOL WINAPI Rectangle(HDC dc, int left, int top, int right, int bottom) {
    DeviceContext* context = standin::DcOf(dc);
    if (!context) return FALSE;
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    if (!context->surface || right - left < 1 || bottom - top < 1) return TRUE;
    standin::Surface& s = *context->surface;
    s.Touch();
    const PenObject* pen = context->pen;
    const BrushObject* brush = context->brush;
    bool fill = brush && !brush->hollow;
    // Drawn as R2_COPYPEN with one-pixel pens: the runtime fills whole
    // surfaces in fresh contexts and draws nothing else with them.
    if (!pen || pen->style == PS_NULL) {
        // Without an outline GDI fills one pixel less on the right and at
        // the bottom.
        if (fill) standin::FillArea(s, left, top, right - 1, bottom - 1, brush->color);
        return TRUE;
    }
    // The outline runs along left/top and one pixel inside right/bottom.
    if (fill) standin::FillArea(s, left + 1, top + 1, right - 1, bottom - 1, brush->color);
    const COLORREF c = pen->color;
    standin::FillArea(s, left, top, right, top + 1, c);
    standin::FillArea(s, left, bottom - 1, right, bottom, c);
    standin::FillArea(s, left, top, left + 1, bottom, c);
    standin::FillArea(s, right - 1, top, right, bottom, c);
    return TRUE;
}

UINT WINAPI SetTextAlign(HDC dc, UINT align) {
    DeviceContext* context = standin::DcOf(dc);
    if (!context) return 0xFFFFFFFFu;  // GDI_ERROR
    UINT previous = context->textAlign;
    context->textAlign = align;
    return previous;
}

COLORREF WINAPI SetTextColor(HDC dc, COLORREF color) {
    DeviceContext* context = standin::DcOf(dc);
    if (!context) return CLR_INVALID;
    COLORREF previous = context->textColor;
    context->textColor = color & 0x00FFFFFF;
    return previous;
}

COLORREF WINAPI SetBkColor(HDC dc, COLORREF color) {
    DeviceContext* context = standin::DcOf(dc);
    if (!context) return CLR_INVALID;
    COLORREF previous = context->bkColor;
    context->bkColor = color & 0x00FFFFFF;
    return previous;
}

int WINAPI SetBkMode(HDC dc, int mode) {
    DeviceContext* context = standin::DcOf(dc);
    if (!context || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    int previous = context->bkMode;
    context->bkMode = mode;
    return previous;
}

int WINAPI SetROP2(HDC dc, int rop) {
    DeviceContext* context = standin::DcOf(dc);
    if (!context || rop < R2_BLACK || rop > R2_WHITE) return 0;
    int previous = context->rop2;
    context->rop2 = rop;
    return previous;
}
