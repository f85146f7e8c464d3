// Uncompressed Windows bitmap files, converted into the open screen's pixels.
#pragma once

#include <cstddef>

#include "platform/api.h"

struct BitmapInfo {
    int32_t width;
    int32_t height;
    uint16_t bitCount;
    const BYTE* pixels;
    size_t available;  // bytes of the data from `pixels` to its end
};

// False for data that is not an uncompressed bitmap, or whose header does not
// fit the `length` bytes given (nothing is ever read past them).
bool ReadBitmapHeader(const BYTE* data, size_t length, BitmapInfo* info);
bool CopyBitmapToSurface(const BitmapInfo& info, BYTE* base, LONG pitch);
void CopyBitmapToBlock(const BitmapInfo& info, BYTE* block);

// How many bytes one stored pixel takes when the file is copied onto a screen
// of `destinationDepth` bits (8 also stands for a raw block of colour indices).
int32_t BitmapSourceBytesPerPixel(uint16_t bitCount, int32_t destinationDepth);
// True when all `height` stored rows, at that many bytes per pixel and padded
// to 4 bytes, lie inside the data (a height of 0 or less needs no rows).
bool BitmapRowsPresent(const BitmapInfo& info, int32_t bytesPerPixel);
