#include "platform/host/pixels.h"

#include <cstring>

namespace standin::host {

void PixelConverter::Prepare(const PixelLayout& layout) {
    if (valid_ && layout_.bitsPerPixel == layout.bitsPerPixel && layout_.redMask == layout.redMask &&
        layout_.greenMask == layout.greenMask && layout_.blueMask == layout.blueMask)
        return;
    const int bytes = layout.BytesPerPixel();
    for (int i = 0; i < 4; ++i) {
        for (unsigned v = 0; v < 256; ++v) {
            BYTE c[3] = {0, 0, 0};
            if (i < bytes) PixelToRgb8(layout, static_cast<DWORD>(v) << (8 * i), c);
            lut_[i][v] = c[0] | (c[1] << 8) | (static_cast<uint32_t>(c[2]) << 16);
        }
    }
    layout_ = layout;
    valid_ = true;
    rgba16_.clear();
}

void PixelConverter::ToRgb(const Surface& s, std::vector<BYTE>& out) {
    Prepare(s.layout);
    const int bytes = s.layout.BytesPerPixel();
    out.resize(static_cast<size_t>(s.width) * s.height * 3);
    BYTE* o = out.data();
    for (int y = 0; y < s.height; ++y) {
        const BYTE* p = s.Row(y);
        for (int x = 0; x < s.width; ++x, p += bytes, o += 3) {
            uint32_t c = lut_[0][p[0]];
            for (int i = 1; i < bytes; ++i) c |= lut_[i][p[i]];
            o[0] = static_cast<BYTE>(c);
            o[1] = static_cast<BYTE>(c >> 8);
            o[2] = static_cast<BYTE>(c >> 16);
        }
    }
}

void PixelConverter::ToRgba(const Surface& s, std::vector<BYTE>& out) {
    Prepare(s.layout);
    const int bytes = s.layout.BytesPerPixel();
    out.resize(static_cast<size_t>(s.width) * s.height * 4);
    BYTE* o = out.data();
    if (bytes == 2) {
        // The demo's own mode, shown every frame: one look-up a pixel.
        if (rgba16_.empty()) {
            rgba16_.resize(65536);
            for (unsigned v = 0; v < 65536; ++v) rgba16_[v] = lut_[0][v & 0xFF] | lut_[1][v >> 8] | 0xFF000000u;
        }
        for (int y = 0; y < s.height; ++y) {
            const BYTE* p = s.Row(y);
            for (int x = 0; x < s.width; ++x, p += 2, o += 4) {
                const uint32_t c = rgba16_[p[0] | (p[1] << 8)];
                std::memcpy(o, &c, 4);
            }
        }
        return;
    }
    for (int y = 0; y < s.height; ++y) {
        const BYTE* p = s.Row(y);
        for (int x = 0; x < s.width; ++x, p += bytes, o += 4) {
            uint32_t c = lut_[0][p[0]] | 0xFF000000u;
            for (int i = 1; i < bytes; ++i) c |= lut_[i][p[i]];
            std::memcpy(o, &c, 4);  // little-endian: R, G, B, A in memory
        }
    }
}

}  // namespace standin::host
