// Colours as the open screen stores them, and clearing the back buffer.
#include "screen/color.h"

#include "screen/screen.h"

// Components are used as given, not clamped: a value outside 0..255 spills
// into the neighbouring field, which callers that pass real colours never
// see. The arithmetic is done unsigned so that it wraps instead of
// overflowing for absurd components.
DWORD ToScreenColor(int32_t red, int32_t green, int32_t blue) {
    switch (screen.depth) {
        case 15:
            return static_cast<DWORD>(blue / 8) + static_cast<DWORD>(green / 8) * 32u +
                   static_cast<DWORD>(red / 8) * 1024u;
        case 16:
            // 5-6-5 whatever layout was detected: only depth 15 packs 5-5-5.
            return static_cast<DWORD>(blue / 8) + static_cast<DWORD>(green / 4) * 32u +
                   static_cast<DWORD>(red / 8) * 2048u;
        case 24:
        case 32:
            if (screen.pixelFormat == kPixel24RedLow || screen.pixelFormat == kPixel32RedLow)
                return static_cast<DWORD>(red) + static_cast<DWORD>(green) * 256u + static_cast<DWORD>(blue) * 65536u;
            return static_cast<DWORD>(blue) + static_cast<DWORD>(green) * 256u + static_cast<DWORD>(red) * 65536u;
        default:
            return 0;
    }
}

HRESULT ClearScreen(int32_t red, int32_t green, int32_t blue) {
    screen.fillDescription.dwFillColor = ToScreenColor(red, green, blue);
    // No screen open: there is no surface to fill, and nothing is touched.
    if (!screen.backBuffer) return DDERR_INVALIDOBJECT;
    return screen.backBuffer->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &screen.fillDescription);
}
