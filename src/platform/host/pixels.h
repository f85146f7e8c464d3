// A surface's pixels as 8-bit colour, for a host to show or save: every
// layout the display modes have, through one table per byte of the pixel
// (unpacking a masked channel only shifts and ORs bits, so the bytes'
// results can be OR-ed together exactly).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/surface.h"

namespace standin::host {

class PixelConverter {
public:
    // R, G, B bytes a pixel, rows top to bottom.
    void ToRgb(const Surface& s, std::vector<BYTE>& out);
    // R, G, B, 255 a pixel, as a canvas takes them.
    void ToRgba(const Surface& s, std::vector<BYTE>& out);

private:
    void Prepare(const PixelLayout& layout);
    PixelLayout layout_;
    bool valid_ = false;
    uint32_t lut_[4][256] = {};  // byte value at byte i of a pixel -> 0x00BBGGRR
    std::vector<uint32_t> rgba16_;  // a whole 16-bit pixel -> RGBA, made on first use
};

}  // namespace standin::host
