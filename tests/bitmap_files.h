// Bitmap files made in memory for the sprite tests: a file header, a 40-byte
// info header, an optional colour table of junk and the stored rows, each row
// padded with 0xEE so a wrong stride reads visibly wrong bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <unistd.h>

namespace testbmp {

// Writes the low `bytes` bytes of `value` at `at`, little-endian.
inline void Put(std::vector<uint8_t>& out, size_t at, uint32_t value, size_t bytes = 4) {
    for (size_t i = 0; i < bytes; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// `pixel(row, x)`: row 0 is the first row in the file, the picture's bottom row.
inline std::vector<uint8_t> Make(int width, int height, int bitCount, const std::function<uint32_t(int, int)>& pixel,
                                 uint32_t compression = 0, size_t colorTableBytes = 0) {
    const size_t header = 54 + colorTableBytes, bytes = bitCount / 8, stride = (width * bytes + 3) / 4 * 4;
    const int rows = height < 0 ? -height : height;
    std::vector<uint8_t> file(header + stride * rows, 0xEE);
    for (size_t i = 0; i < header; ++i) file[i] = i < 54 ? 0 : static_cast<uint8_t>(0x5A ^ i);
    for (auto [at, value, size] : {std::tuple<size_t, uint32_t, size_t>{0, 'B' | 'M' << 8, 2}, {2, file.size(), 4},
                                   {10, header, 4}, {14, 40, 4}, {18, width, 4}, {22, height, 4}, {26, 1, 2},
                                   {28, bitCount, 2}, {30, compression, 4}})
        Put(file, at, value, size);
    for (int r = 0; r < rows; ++r)
        for (int x = 0; x < width; ++x) Put(file, header + r * stride + x * bytes, pixel(r, x), bytes);
    return file;
}

inline std::vector<uint8_t> Solid(int width, int height, int bitCount, uint32_t value) {
    return Make(width, height, bitCount, [value](int, int) { return value; });
}

// A file in the temporary folder, removed again when the object goes.
struct TempFile {
    std::string path;
    TempFile(const std::string& name, const std::vector<uint8_t>& bytes)
        : path(::testing::TempDir() + "rs_" + std::to_string(::getpid()) + "_" + name) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    ~TempFile() { std::remove(path.c_str()); }
};

}  // namespace testbmp
