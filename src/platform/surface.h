// The memory behind a DirectDraw surface, shared by the stand-in's ddraw
// (which owns it), gdi (device contexts draw into it), d3d (render target and
// textures) and the host display (which shows the primary).
#pragma once

#include <vector>

#include "platform/wintypes.h"

struct IDirectDrawSurface7;

namespace standin {

struct PixelLayout {
    int bitsPerPixel = 0;  // 8, 15 (stored in 16), 16, 24 or 32
    DWORD redMask = 0, greenMask = 0, blueMask = 0;
    int BytesPerPixel() const { return (bitsPerPixel + 7) / 8; }
};

struct Surface {
    int width = 0;
    int height = 0;
    PixelLayout layout;
    LONG pitch = 0;             // bytes from one row to the next
    std::vector<BYTE> pixels;   // height * pitch bytes
    DWORD caps = 0;             // DDSCAPS_* the surface was made with
    bool lost = false;          // contents gone until RestoreAllSurfaces
    bool busy = false;          // locked or lent to a device context: the program is at the pixels
    bool hasColorKey = false;   // source colour key set with SetColorKey
    DWORD colorKeyLow = 0, colorKeyHigh = 0;
    unsigned id = 0;            // unique for the life of the process
    unsigned version = 0;       // bumped whenever the contents may have changed

    BYTE* Row(int y) { return pixels.data() + static_cast<size_t>(y) * pitch; }
    const BYTE* Row(int y) const { return pixels.data() + static_cast<size_t>(y) * pitch; }
    DWORD ReadRaw(int x, int y) const;
    void WriteRaw(int x, int y, DWORD value);
    void Touch() { ++version; }
};

// Makes a surface of the given size and layout, zero filled, with a fresh id.
void InitSurface(Surface& s, int width, int height, const PixelLayout& layout, DWORD caps);

// Colour (0x00BBGGRR) to pixel value and back, for a layout. Reading a pixel
// back shifts each field up without replicating its bits, as GDI does on
// 16-bit surfaces (5-6-5 white reads as 0x00F8FCF8).
DWORD ColorToPixel(const PixelLayout& layout, COLORREF color);
COLORREF PixelToColor(const PixelLayout& layout, DWORD pixel);
// The same, but scaled to the full 0..255 range: for showing a surface.
void PixelToRgb8(const PixelLayout& layout, DWORD pixel, BYTE rgb[3]);

// The stand-in surface behind an interface pointer, or null.
Surface* SurfaceOf(IDirectDrawSurface7* surface);

}  // namespace standin
