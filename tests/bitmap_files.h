// Bitmap files made in memory for the sprite tests: a file header, a 40-byte
// info header, an optional colour table and the stored rows, each row padded
// with a recognisable filler so a wrong stride reads visibly wrong bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace testbmp {

constexpr uint8_t kPadding = 0xEE;

inline void Put16(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline void Put32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline size_t BytesPerPixel(int bitCount) { return bitCount == 0 ? 3 : (bitCount + 7) / 8; }

inline size_t Stride(int width, int bitCount) { return (width * BytesPerPixel(bitCount) + 3) / 4 * 4; }

// The value of the pixel at stored row `row` (0 = the first row in the file,
// the picture's bottom row) and column `x`, written little-endian.
using PixelFn = std::function<uint32_t(int row, int x)>;

struct Options {
    uint32_t compression = 0;
    size_t colorTableBytes = 0;  // skipped by the pixel offset
};

inline std::vector<uint8_t> Make(int width, int height, int bitCount, const PixelFn& pixel, Options options = {}) {
    size_t headerBytes = 54 + options.colorTableBytes;
    int rows = height < 0 ? -height : height;
    size_t stride = Stride(width, bitCount);
    std::vector<uint8_t> file(headerBytes + stride * rows, kPadding);
    file[0] = 'B';
    file[1] = 'M';
    Put32(file, 2, static_cast<uint32_t>(file.size()));
    Put32(file, 6, 0);
    Put32(file, 10, static_cast<uint32_t>(headerBytes));
    Put32(file, 14, 40);
    Put32(file, 18, static_cast<uint32_t>(width));
    Put32(file, 22, static_cast<uint32_t>(height));
    Put16(file, 26, 1);
    Put16(file, 28, static_cast<uint32_t>(bitCount));
    Put32(file, 30, options.compression);
    for (size_t i = 34; i < 54; ++i) file[i] = 0;
    // A colour table of junk: reading it as pixels would show.
    for (size_t i = 54; i < headerBytes; ++i) file[i] = static_cast<uint8_t>(0x5A ^ i);
    size_t bytes = BytesPerPixel(bitCount);
    for (int r = 0; r < rows; ++r) {
        for (int x = 0; x < width; ++x) {
            uint32_t value = pixel(r, x);
            for (size_t b = 0; b < bytes; ++b) file[headerBytes + r * stride + x * bytes + b] = (value >> (8 * b)) & 0xFF;
        }
    }
    return file;
}

inline std::vector<uint8_t> Solid(int width, int height, int bitCount, uint32_t value) {
    return Make(width, height, bitCount, [value](int, int) { return value; });
}

// Writes the bytes to a file in the temporary folder and removes it again.
class TempFile {
public:
    TempFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        const char* dir = std::getenv("TMPDIR");
        path_ = std::string(dir && *dir ? dir : "/tmp") + "/rs_" + std::to_string(::getpid()) + "_" + name;
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        if (f) {
            if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    }
    ~TempFile() { std::remove(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

}  // namespace testbmp
