// Draws glimrotan.bmp, the demo's particle: a soft round glow on black.
//
//   g++ -std=c++17 -O2 -o make_glimrotan assets/make_glimrotan.cpp
//   ./make_glimrotan assets/glimrotan.bmp
//
// The demo stretches it to 22 x 22 and adds thousands of them onto a 16-bit
// screen, so neighbouring particles overlap twenty deep or more. The core is
// therefore dim: light builds up where the text is dense instead of every
// particle saturating to a flat white disc on its own. Pure black is the
// sprites' colour key, so the glow's faint rim ends on a dark colour that is
// still non-zero after packing into 5-6-5, and only the corners are black.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSize = 32;
constexpr double kCentre = (kSize - 1) / 2.0;
constexpr double kRadius = kSize / 2.0;

// Warm white core tinted towards cyan, in 8-bit units.
constexpr double kCoreRed = 34, kCoreGreen = 62, kCoreBlue = 80;
// The rim: the smallest values that survive 5-6-5 packing (red and blue need
// 8, green 4), so the key never eats into the glow.
constexpr int kRimRed = 8, kRimGreen = 8, kRimBlue = 16;

struct Pixel {
    uint8_t blue, green, red;
};

Pixel GlowAt(int x, int y) {
    double dx = x - kCentre, dy = y - kCentre;
    double d = std::sqrt(dx * dx + dy * dy) / kRadius;
    if (d >= 1.0) return {0, 0, 0};
    // A smooth bump: flat top, no kink at the rim, most light near the middle.
    double fall = (1.0 - d * d);
    double glow = fall * fall * fall;
    auto channel = [glow](double core, int rim) {
        int v = static_cast<int>(std::lround(core * glow));
        return static_cast<uint8_t>(v < rim ? rim : v);
    };
    return {channel(kCoreBlue, kRimBlue), channel(kCoreGreen, kRimGreen), channel(kCoreRed, kRimRed)};
}

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    out[at] = v & 0xFF;
    out[at + 1] = (v >> 8) & 0xFF;
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = (v >> (8 * i)) & 0xFF;
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "glimrotan.bmp";
    const size_t stride = (kSize * 3 + 3) / 4 * 4;
    const size_t pixelBytes = stride * kSize;
    std::vector<uint8_t> file(54 + pixelBytes, 0);
    file[0] = 'B';
    file[1] = 'M';
    Put32(file, 2, static_cast<uint32_t>(file.size()));
    Put32(file, 10, 54);
    Put32(file, 14, 40);
    Put32(file, 18, kSize);
    Put32(file, 22, kSize);  // positive: bottom row stored first
    Put16(file, 26, 1);
    Put16(file, 28, 24);
    Put32(file, 30, 0);      // uncompressed
    Put32(file, 34, static_cast<uint32_t>(pixelBytes));
    Put32(file, 38, 2835);   // 72 dpi
    Put32(file, 42, 2835);
    for (int row = 0; row < kSize; ++row) {
        int y = kSize - 1 - row;
        for (int x = 0; x < kSize; ++x) {
            Pixel p = GlowAt(x, y);
            size_t at = 54 + row * stride + x * 3;
            file[at] = p.blue;
            file[at + 1] = p.green;
            file[at + 2] = p.red;
        }
    }
    std::FILE* out = std::fopen(path, "wb");
    if (!out) {
        std::perror(path);
        return 1;
    }
    bool ok = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    ok = std::fclose(out) == 0 && ok;
    if (!ok) std::perror(path);
    return ok ? 0 : 1;
}
