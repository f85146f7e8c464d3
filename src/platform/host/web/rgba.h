// The demo's own frames (16-bit 5-6-5) as the 2D canvas takes them.
#pragma once

#include "platform/wintypes.h"

namespace standin::host {

// R, G, B, 255 a pixel, rows back to back; each field widened by repeating
// its top bits, as the stand-in shows any surface (PixelToRgb8).
void Rgb565ToRgba(const BYTE* pixels, int width, int height, LONG pitch, BYTE* rgba);

}  // namespace standin::host
