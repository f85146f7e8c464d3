// STUB: replaced by bitmap decoding.
#include "sprites/bitmap.h"
bool ReadBitmapHeader(const BYTE*, size_t, BitmapInfo*) { return false; }
bool CopyBitmapToSurface(const BitmapInfo&, BYTE*, LONG) { return false; }
void CopyBitmapToBlock(const BitmapInfo&, BYTE*) {}
