// What a device context and a GDI object are inside the stand-in. The
// objects half (brushes, pens, Rectangle, device contexts) and the text half
// (fonts, TextOutA, GetPixel) of gdi share these.
#pragma once

#include <string>

#include "platform/gdi.h"
#include "platform/surface.h"

namespace standin {

enum class GdiKind { brush, pen, font };

struct GdiObject {
    // Every object enters the table of live objects when made and leaves it
    // when destroyed, so a handle can be checked before it is used.
    explicit GdiObject(GdiKind k);
    virtual ~GdiObject();
    GdiKind kind;
    bool stock = false;  // stock objects are never deleted
};

struct BrushObject : GdiObject {
    BrushObject() : GdiObject(GdiKind::brush) {}
    COLORREF color = 0;
    bool hollow = false;
};

struct PenObject : GdiObject {
    PenObject() : GdiObject(GdiKind::pen) {}
    int style = PS_SOLID;  // any width is drawn one pixel wide
    COLORREF color = 0;
};

struct FontRenderer;  // the text half's rasterising state for one font

struct FontObject : GdiObject {
    FontObject() : GdiObject(GdiKind::font) {}
    ~FontObject() override;
    int height = 0;  // as given to CreateFontA: negative = character height
    // Kept as asked for; the stand-in draws every face at its own width, upright.
    int width = 0, escapement = 0, orientation = 0;
    int weight = FW_NORMAL;
    bool italic = false, underline = false, strikeOut = false;
    DWORD quality = DEFAULT_QUALITY;
    std::string faceName;
    FontRenderer* renderer = nullptr;
};

struct DeviceContext {
    Surface* surface = nullptr;  // null for the display's own context
    BrushObject* brush = nullptr;
    PenObject* pen = nullptr;
    FontObject* font = nullptr;  // null: the system font
    UINT textAlign = TA_NOUPDATECP;
    COLORREF textColor = 0;
    COLORREF bkColor = 0x00FFFFFF;
    int bkMode = OPAQUE;
    int rop2 = R2_COPYPEN;
    POINT position{0, 0};  // current position, used with TA_UPDATECP
};

// Device contexts over a surface, made by IDirectDrawSurface7::GetDC.
HDC CreateSurfaceDC(Surface* surface);
void DeleteSurfaceDC(HDC dc);
DeviceContext* DcOf(HDC dc);
GdiObject* ObjectOf(HGDIOBJ object);

// Fills left..right-1 by top..bottom-1, clipped to the surface, with no
// raster operation: Rectangle's fill and outline, and opaque text's background.
void FillArea(Surface& s, int left, int top, int right, int bottom, COLORREF color);

}  // namespace standin
