// The demo's own frames (16-bit 5-6-5) as the 2D canvas takes them, and
// where in a row they show anything.
#pragma once

#include "platform/wintypes.h"

namespace standin::host {

// Pixels [left, right) of a row of 5-6-5 pixels to R, G, B, 255 each, at the
// same columns of `rgba` (the row's RGBA, 4 bytes a pixel); each field
// widened by repeating its top bits, as the stand-in shows any surface
// (PixelToRgb8).
void Rgb565RowToRgba(const BYTE* row, int left, int right, BYTE* rgba);

// Columns [left, right) of a row of `width` 5-6-5 pixels that hold every
// pixel not black, widened to whole groups of eight from the row's start
// (or to the row's end); left == right == 0 for a black row.
struct Columns {
    int left = 0, right = 0;
};
Columns LitColumns(const BYTE* row, int width);

}  // namespace standin::host
