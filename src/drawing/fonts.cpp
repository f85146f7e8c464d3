// The numbered font table: GDI fonts made from a face name and a size in
// points, kept in slots the caller numbers.
#include "drawing/fonts.h"

#include <cstdint>

#include "core/runtime.h"

FontTable fonts;

namespace {

constexpr int32_t kInitialFontCapacity = 10;
constexpr int32_t kFontGrowth = 10;

// The one style every font is made with; set afresh before each load.
struct FontStyle {
    int weight;
    DWORD italic, underline, strikeOut, quality;
};
FontStyle fontStyle;

bool InTable(int32_t number) { return fonts.fontTable && number >= 0 && number < fonts.fontCapacity; }

}  // namespace

void InitFonts() {
    fonts.fontTable = static_cast<HFONT*>(HeapAlloc(runtime.heap, HEAP_ZERO_MEMORY, kInitialFontCapacity * sizeof(HFONT)));
    fonts.fontCapacity = fonts.fontTable ? kInitialFontCapacity : 0;
}

int32_t GrowFontTable(int32_t number) {
    if (number < 0 || !fonts.fontTable) return 0;
    if (number < fonts.fontCapacity) return 1;
    if (number > INT32_MAX - kFontGrowth) return 0;
    const int32_t capacity = number + kFontGrowth;
    // A table that cannot grow stays as it was, with every font in it.
    void* grown = HeapReAlloc(runtime.heap, HEAP_ZERO_MEMORY, fonts.fontTable,
                              static_cast<SIZE_T>(capacity) * sizeof(HFONT));
    if (!grown) return 0;
    fonts.fontTable = static_cast<HFONT*>(grown);
    fonts.fontCapacity = capacity;
    return 1;
}

HFONT FontHandle(int32_t number) { return InTable(number) ? fonts.fontTable[number] : nullptr; }

void FreeFontFace(int32_t number) {
    if (!InTable(number) || !fonts.fontTable[number]) return;
    DeleteObject(fonts.fontTable[number]);
    fonts.fontTable[number] = nullptr;
}

HFONT LoadFontFace(int32_t number, const char* faceName, int32_t points) {
    fontStyle = FontStyle{FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_QUALITY};
    if (!GrowFontTable(number)) return nullptr;
    FreeFontFace(number);

    // Points are scaled to the display's vertical resolution, and the height
    // is negative so that it is the character height, not the cell height.
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    const int dpi = GetDeviceCaps(display, LOGPIXELSY);
    const int height = -MulDiv(points, dpi, 72);
    DeleteDC(display);

    HFONT font = CreateFontA(height, 0, 0, 0, fontStyle.weight, fontStyle.italic, fontStyle.underline,
                             fontStyle.strikeOut, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             fontStyle.quality, DEFAULT_PITCH | FF_DONTCARE, faceName);
    fonts.fontTable[number] = font;
    return font;
}
