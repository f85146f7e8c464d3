// The text half of the stand-in's GDI: fonts, TextOutA, GetPixel, and the
// display's own device context that fonts are sized against.
#include <algorithm>
#include <cstring>
#include <strings.h>
#include <memory>
#include <vector>

#include "platform/faults.h"
#include "platform/gdi_internal.h"
#include "platform/host/fonts.h"
#include "platform/standin.h"

namespace standin {

FontObject::~FontObject() { delete renderer; }

namespace {

// Text alignment bits beyond the ones the runtime names.
constexpr UINT kAlignRight = 2, kAlignCenter = 6, kAlignHorizontal = 6;
constexpr UINT kAlignBottom = 8, kAlignBaseline = 24, kAlignVertical = 24;

// Windows-1252 bytes 0x80..0x9F; every other byte is the Latin-1 code point.
// The five unassigned bytes map to their C1 controls, as Windows converts them.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint32_t CodePointOf(unsigned char byte) { return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte; }

// The font a context uses before any font is selected: GDI's bold system face.
FontObject& SystemFont() {
    static FontObject* font = [] {
        auto* f = new FontObject();  // lives as long as the process, never deleted
        f->stock = true;
        f->height = 16;
        f->weight = FW_BOLD;
        f->faceName = "System";
        return f;
    }();
    return *font;
}

FontRenderer* RendererOf(FontObject& font) {
    if (!font.renderer) {
        FontRequest request;
        request.faceName = font.faceName;
        request.height = font.height;
        request.weight = font.weight;
        request.italic = font.italic;
        request.antialiased = font.quality != NONANTIALIASED_QUALITY;
        font.renderer = FontRenderer::Open(request).release();
    }
    return font.renderer;
}

// The display's device contexts made by CreateDCA. They draw on nothing and
// only answer GetDeviceCaps; surface contexts belong to the objects half.
std::vector<std::unique_ptr<DeviceContext>> displayContexts;

DeviceContext* DisplayContextOf(HDC dc) {
    for (auto& c : displayContexts) {
        if (reinterpret_cast<HDC>(c.get()) == dc) return c.get();
    }
    return nullptr;
}

// One pixel of text in the text colour, blended with the destination by the
// glyph's coverage, in the surface's own format. Text ignores the raster
// operation (R2_NOT inverts lines and fills, never glyphs), as GDI does.
void WriteTextPixel(Surface& s, int x, int y, COLORREF color, int coverage) {
    if (x < 0 || y < 0 || x >= s.width || y >= s.height || coverage <= 0) return;
    if (coverage >= 255) {
        s.WriteRaw(x, y, ColorToPixel(s.layout, color));
        return;
    }
    const COLORREF dst = PixelToColor(s.layout, s.ReadRaw(x, y));
    COLORREF out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int d = (dst >> shift) & 0xFF, c = (color >> shift) & 0xFF;
        const int v = d + ((c - d) * coverage + (c >= d ? 127 : -127)) / 255;
        out |= static_cast<COLORREF>(v) << shift;
    }
    s.WriteRaw(x, y, ColorToPixel(s.layout, out));
}

}  // namespace

}  // namespace standin

using namespace standin;

HFONT WINAPI CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                         DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                         DWORD quality, DWORD pitchAndFamily, LPCSTR faceName) {
    const std::string name = faceName ? std::string(faceName).substr(0, 31) : std::string();  // LF_FACESIZE - 1
    if (faults::Hit("CreateFontA " + name)) return nullptr;
    auto* font = new FontObject();
    font->height = height;
    font->width = width;
    font->escapement = escapement;
    font->orientation = orientation;
    font->weight = weight <= 0 ? FW_NORMAL : std::min(weight, 1000);
    font->italic = italic != 0;
    font->underline = underline != 0;
    font->strikeOut = strikeOut != 0;
    font->quality = quality;
    font->faceName = name;
    // GDI's handle of an object is the object itself (see ObjectOf).
    return reinterpret_cast<HFONT>(static_cast<GdiObject*>(font));
}

HDC WINAPI CreateDCA(LPCSTR driver, LPCSTR device, LPCSTR port, const void* devMode) {
    if (!driver || strcasecmp(driver, "DISPLAY") != 0) return nullptr;
    if (faults::Hit("CreateDCA DISPLAY")) return nullptr;
    displayContexts.push_back(std::make_unique<DeviceContext>());
    return reinterpret_cast<HDC>(displayContexts.back().get());
}

BOOL WINAPI DeleteDC(HDC dc) {
    faults::Record("DeleteDC");
    for (auto it = displayContexts.begin(); it != displayContexts.end(); ++it) {
        if (reinterpret_cast<HDC>(it->get()) == dc) {
            displayContexts.erase(it);
            return TRUE;
        }
    }
    return FALSE;
}

int WINAPI GetDeviceCaps(HDC dc, int index) {
    DeviceContext* c = DisplayContextOf(dc);
    if (!c) c = DcOf(dc);
    if (!c) return 0;
    const Surface* s = c->surface;
    switch (index) {
        case LOGPIXELSX:
        case LOGPIXELSY: return DisplayDpi();
        case HORZRES: return s ? s->width : 640;
        case VERTRES: return s ? s->height : 480;
        case BITSPIXEL: return s ? (s->layout.bitsPerPixel == 15 ? 16 : s->layout.bitsPerPixel) : 32;
        default: return 0;
    }
}

COLORREF WINAPI GetPixel(HDC dc, int x, int y) {
    DeviceContext* c = DcOf(dc);
    if (!c || !c->surface) return CLR_INVALID;
    const Surface& s = *c->surface;
    if (x < 0 || y < 0 || x >= s.width || y >= s.height) return CLR_INVALID;
    return PixelToColor(s.layout, s.ReadRaw(x, y));
}

BOOL WINAPI TextOutA(HDC dc, int x, int y, LPCSTR text, int length) {
    DeviceContext* c = DcOf(dc);
    if (!c || (!text && length > 0) || length < 0) return FALSE;
    if (faults::Hit("TextOutA")) return FALSE;
    FontRenderer* font = RendererOf(c->font ? *c->font : SystemFont());
    if (!font) return FALSE;
    const bool updateCP = (c->textAlign & TA_UPDATECP) != 0;
    const POINT ref = updateCP ? c->position : POINT{x, y};

    int width = 0;
    for (int i = 0; i < length; ++i) width += font->Glyph(CodePointOf(static_cast<unsigned char>(text[i]))).advance;

    const TextMetrics& m = font->Metrics();
    int left = ref.x;
    switch (c->textAlign & kAlignHorizontal) {
        case kAlignRight: left = ref.x - width; break;
        case kAlignCenter: left = ref.x - width / 2; break;
        default: break;
    }
    int baseline = ref.y + m.ascent;
    switch (c->textAlign & kAlignVertical) {
        case kAlignBaseline: baseline = ref.y; break;
        case kAlignBottom: baseline = ref.y - m.descent; break;
        default: break;
    }

    if (Surface* s = c->surface; s && length > 0) {
        if (c->bkMode == OPAQUE) FillArea(*s, left, baseline - m.ascent, left + width, baseline + m.descent, c->bkColor);
        int pen = left;
        for (int i = 0; i < length; ++i) {
            const GlyphImage& g = font->Glyph(CodePointOf(static_cast<unsigned char>(text[i])));
            const int gx = pen + g.left, gy = baseline - g.top;
            for (int row = 0; row < g.rows; ++row) {
                const BYTE* cov = g.coverage.data() + static_cast<size_t>(row) * g.width;
                for (int col = 0; col < g.width; ++col) {
                    if (cov[col]) WriteTextPixel(*s, gx + col, gy + row, c->textColor, cov[col]);
                }
            }
            pen += g.advance;
        }
        FontObject& object = c->font ? *c->font : SystemFont();
        auto line = [&](int top, int thickness) {
            for (int yy = top; yy < top + thickness; ++yy) {
                for (int xx = left; xx < left + width; ++xx) WriteTextPixel(*s, xx, yy, c->textColor, 255);
            }
        };
        if (object.underline) line(baseline + m.underlinePosition, m.underlineThickness);
        if (object.strikeOut) line(baseline - m.strikeoutPosition, m.strikeoutThickness);
        s->Touch();
    }

    if (updateCP) {
        switch (c->textAlign & kAlignHorizontal) {
            case kAlignRight: c->position.x -= width; break;
            case kAlignCenter: break;
            default: c->position.x += width; break;
        }
    }
    return TRUE;
}
