// Bitmap decoding: the header of an uncompressed "BM" file, and its stored
// rows written upright into locked surface memory or a raw index block.
//
// The file comes from disk and is not trusted: every size is checked against
// the bytes actually given before a single pixel is read.
#include "sprites/bitmap.h"

#include "screen/screen.h"

namespace {

constexpr size_t kHeaderBytes = 54;  // file header (14) + info header (40)
// Sprite records keep their sizes in 16 bits; anything larger is no sprite.
constexpr int32_t kLargestSide = 32767;

uint16_t Read16(const BYTE* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Read32(const BYTE* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Stored rows are padded to whole 32-bit words.
uint64_t PaddedRowBytes(int32_t width, uint64_t bitsPerPixel) {
    return (static_cast<uint64_t>(width) * bitsPerPixel + 31) / 32 * 4;
}

bool RowsFit(const BitmapInfo& info, uint64_t bitsPerPixel) {
    if (info.width < 0) return false;
    if (info.height <= 0) return true;
    return PaddedRowBytes(info.width, bitsPerPixel) * static_cast<uint64_t>(info.height) <= info.available;
}

void Store16(BYTE* out, uint32_t value) {
    out[0] = static_cast<BYTE>(value);
    out[1] = static_cast<BYTE>(value >> 8);
}

// One row onto a 16-bit screen. Only 5-5-5 is told apart; every other layout
// of a 16-bit screen is packed as 5-6-5.
void ConvertRowTo16(const BYTE* in, BYTE* out, int32_t width, uint16_t bitCount, int32_t sourceBytes,
                    bool is555) {
    for (int32_t x = 0; x < width; ++x, in += sourceBytes, out += 2) {
        uint32_t value;
        if (bitCount == 16) {
            uint32_t file = Read16(in);
            if (is555) {
                value = file;
            } else {
                uint32_t r5 = (file >> 10) & 31, g5 = (file >> 5) & 31, b5 = file & 31;
                value = (r5 << 11) | ((g5 << 1) << 5) | b5;
            }
        } else {
            uint32_t b = in[0], g = in[1], r = in[2];
            value = is555 ? ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)
                          : ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
        }
        Store16(out, value);
    }
}

// One row onto a 24- or 32-bit screen, bytes in file order (blue first).
void ConvertRowToTrueColor(const BYTE* in, BYTE* out, int32_t width, uint16_t bitCount, int32_t sourceBytes,
                           int32_t destinationBytes) {
    for (int32_t x = 0; x < width; ++x, in += sourceBytes, out += destinationBytes) {
        if (bitCount == 16) {
            uint32_t file = Read16(in);
            out[0] = static_cast<BYTE>((file & 31) << 3);
            out[1] = static_cast<BYTE>(((file >> 5) & 31) << 3);
            out[2] = static_cast<BYTE>(((file >> 10) & 31) << 3);
        } else {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
        if (destinationBytes == 4) {
            // The fourth byte is 0 unless the file brings its own: black must
            // stay the pixel value 0, the sprites' colour key.
            out[3] = sourceBytes == 4 ? in[3] : 0;
        }
    }
}

}  // namespace

int32_t BitmapSourceBytesPerPixel(uint16_t bitCount, int32_t destinationDepth) {
    if (destinationDepth == 8) return 1;
    if (bitCount == 16) return 2;
    if (bitCount == 32) return 4;
    return 3;
}

bool BitmapRowsPresent(const BitmapInfo& info, int32_t bytesPerPixel) {
    if (bytesPerPixel <= 0) return false;
    return info.pixels != nullptr && RowsFit(info, static_cast<uint64_t>(bytesPerPixel) * 8);
}

bool ReadBitmapHeader(const BYTE* data, size_t length, BitmapInfo* info) {
    if (!data || !info || length < kHeaderBytes) return false;
    if (Read16(data) != 0x4D42) return false;  // "BM"
    if (Read32(data + 30) != 0) return false;  // run-length and bit-field files
    uint32_t offset = Read32(data + 10);
    if (offset > length) return false;

    BitmapInfo read;
    read.width = static_cast<int32_t>(Read32(data + 18));
    // A negative height (rows stored top first) is passed on; creating the
    // sprite refuses it.
    read.height = static_cast<int32_t>(Read32(data + 22));
    read.bitCount = Read16(data + 28);
    read.pixels = data + offset;
    read.available = length - offset;
    if (read.width < 0 || read.width > kLargestSide) return false;
    if (read.height > kLargestSide || read.height < -kLargestSide) return false;
    // The rows the file says it stores must be there. The copy may read a
    // different pixel size (bit count 0 has none of its own); it checks again.
    if (!RowsFit(read, read.bitCount)) return false;
    *info = read;
    return true;
}

bool CopyBitmapToSurface(const BitmapInfo& info, BYTE* base, LONG pitch) {
    int32_t depth = screen.depth;
    if (depth != 8 && depth != 16 && depth != 24 && depth != 32) return false;
    int32_t sourceBytes = BitmapSourceBytesPerPixel(info.bitCount, depth);
    if (!BitmapRowsPresent(info, sourceBytes)) return false;
    if (info.height <= 0 || info.width == 0) return true;
    if (!base) return false;

    size_t stride = static_cast<size_t>(PaddedRowBytes(info.width, static_cast<uint64_t>(sourceBytes) * 8));
    int32_t destinationBytes = depth / 8;
    bool is555 = screen.pixelFormat == kPixel555;
    for (int32_t r = 0; r < info.height; ++r) {
        const BYTE* in = info.pixels + static_cast<size_t>(r) * stride;
        // The first stored row is the picture's bottom row.
        BYTE* out = base + static_cast<ptrdiff_t>(info.height - 1 - r) * pitch;
        switch (depth) {
        case 8:
            for (int32_t x = 0; x < info.width; ++x) out[x] = in[x];
            break;
        case 16:
            ConvertRowTo16(in, out, info.width, info.bitCount, sourceBytes, is555);
            break;
        default:
            ConvertRowToTrueColor(in, out, info.width, info.bitCount, sourceBytes, destinationBytes);
            break;
        }
    }
    return true;
}

void CopyBitmapToBlock(const BitmapInfo& info, BYTE* block) {
    if (!block || !BitmapRowsPresent(info, 1) || info.height <= 0) return;
    size_t width = static_cast<size_t>(info.width);
    size_t stride = (width + 3) / 4 * 4;
    for (int32_t r = 0; r < info.height; ++r) {
        const BYTE* in = info.pixels + static_cast<size_t>(r) * stride;
        BYTE* out = block + static_cast<size_t>(info.height - 1 - r) * width;
        for (size_t x = 0; x < width; ++x) out[x] = in[x];
    }
}
