#include "platform/surface.h"

namespace standin {

namespace {

unsigned nextSurfaceId = 1;

int Shift(DWORD mask) {
    if (mask == 0) return 0;
    int s = 0;
    while (!(mask & 1u)) {
        mask >>= 1;
        ++s;
    }
    return s;
}

int Bits(DWORD mask) {
    int n = 0;
    for (; mask; mask &= mask - 1) ++n;
    return n;
}

DWORD PackChannel(DWORD mask, unsigned value8) {
    int bits = Bits(mask);
    if (bits == 0) return 0;
    DWORD v = bits >= 8 ? value8 << (bits - 8) : value8 >> (8 - bits);
    return (v << Shift(mask)) & mask;
}

unsigned UnpackChannel(DWORD mask, DWORD pixel, bool replicate) {
    int bits = Bits(mask);
    if (bits == 0) return 0;
    DWORD v = (pixel & mask) >> Shift(mask);
    if (bits >= 8) return v >> (bits - 8);
    unsigned out = v << (8 - bits);
    if (replicate) {
        for (int filled = bits; filled < 8; filled += bits) out |= out >> bits;
    }
    return out & 0xFF;
}

}  // namespace

void InitSurface(Surface& s, int width, int height, const PixelLayout& layout, DWORD caps) {
    s.width = width;
    s.height = height;
    s.layout = layout;
    // Rows aligned to 4 bytes, as display drivers commonly lay them out; the
    // runtime must honour lPitch rather than assume width * bytes.
    s.pitch = static_cast<LONG>((static_cast<size_t>(width) * layout.BytesPerPixel() + 3) & ~size_t(3));
    s.pixels.assign(static_cast<size_t>(s.pitch) * height, 0);
    s.caps = caps;
    s.lost = false;
    s.busy = false;
    s.hasColorKey = false;
    s.colorKeyLow = s.colorKeyHigh = 0;
    s.id = nextSurfaceId++;
    s.version = 0;
}

DWORD Surface::ReadRaw(int x, int y) const {
    const BYTE* p = Row(y) + static_cast<size_t>(x) * layout.BytesPerPixel();
    switch (layout.BytesPerPixel()) {
        case 1: return p[0];
        case 2: return p[0] | (p[1] << 8);
        case 3: return p[0] | (p[1] << 8) | (p[2] << 16);
        default: return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
    }
}

void Surface::WriteRaw(int x, int y, DWORD value) {
    BYTE* p = Row(y) + static_cast<size_t>(x) * layout.BytesPerPixel();
    switch (layout.BytesPerPixel()) {
        case 4: p[3] = static_cast<BYTE>(value >> 24); [[fallthrough]];
        case 3: p[2] = static_cast<BYTE>(value >> 16); [[fallthrough]];
        case 2: p[1] = static_cast<BYTE>(value >> 8); [[fallthrough]];
        default: p[0] = static_cast<BYTE>(value);
    }
}

DWORD ColorToPixel(const PixelLayout& layout, COLORREF color) {
    unsigned r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
    if (layout.bitsPerPixel == 8) {
        // No palette is ever set: index by brightness.
        return (r * 77 + g * 150 + b * 29) >> 8;
    }
    return PackChannel(layout.redMask, r) | PackChannel(layout.greenMask, g) | PackChannel(layout.blueMask, b);
}

COLORREF PixelToColor(const PixelLayout& layout, DWORD pixel) {
    if (layout.bitsPerPixel == 8) {
        unsigned i = pixel & 0xFF;
        return i | (i << 8) | (i << 16);
    }
    return UnpackChannel(layout.redMask, pixel, false) | (UnpackChannel(layout.greenMask, pixel, false) << 8) |
           (UnpackChannel(layout.blueMask, pixel, false) << 16);
}

void PixelToRgb8(const PixelLayout& layout, DWORD pixel, BYTE rgb[3]) {
    if (layout.bitsPerPixel == 8) {
        rgb[0] = rgb[1] = rgb[2] = static_cast<BYTE>(pixel);
        return;
    }
    rgb[0] = static_cast<BYTE>(UnpackChannel(layout.redMask, pixel, true));
    rgb[1] = static_cast<BYTE>(UnpackChannel(layout.greenMask, pixel, true));
    rgb[2] = static_cast<BYTE>(UnpackChannel(layout.blueMask, pixel, true));
}

}  // namespace standin
