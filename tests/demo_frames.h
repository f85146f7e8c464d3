// Reading and judging the demo's captured frames: shared by the in-process
// demo runs and the end-to-end check of a real program's capture folder.
#pragma once

#include <png.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace demo_frames {

struct Frame {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;  // width * height * 3
    bool Lit(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return false;
        const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        return p[0] | p[1] | p[2];
    }
};

// An 8-bit RGB PNG as the capture writes it; false for anything else.
inline bool ReadPng(const std::string& path, Frame& frame) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    bool ok = png_get_bit_depth(png, info) == 8 && png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB;
    if (ok) {
        frame.width = static_cast<int>(png_get_image_width(png, info));
        frame.height = static_cast<int>(png_get_image_height(png, info));
        frame.rgb.assign(static_cast<size_t>(frame.width) * frame.height * 3, 0);
        for (int y = 0; y < frame.height; ++y) png_read_row(png, &frame.rgb[static_cast<size_t>(y) * frame.width * 3], nullptr);
        png_read_end(png, nullptr);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return ok;
}

inline std::string FrameName(unsigned long number) {
    char name[40];
    std::snprintf(name, sizeof name, "frame-%06lu.png", number);
    return name;
}

inline long LitCount(const Frame& f) {
    long n = 0;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) n += f.Lit(x, y);
    return n;
}

// The ring's particles sit at x 127..513 and y 47..429 (top-left corners),
// each drawn 22 x 22: nothing may be lit outside that box.
constexpr int kBoxLeft = 127, kBoxTop = 47, kBoxRight = 513 + 21, kBoxBottom = 429 + 21;

inline long LitOutsideRing(const Frame& f) {
    long n = 0;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x)
            if (f.Lit(x, y) && (x < kBoxLeft || x > kBoxRight || y < kBoxTop || y > kBoxBottom)) ++n;
    return n;
}

// The text moves one spoke a frame round the ring: the picture of the next
// frame is this one's turned by one spoke about the ring's centre (up to
// the rounding of particle positions to whole pixels). Returns how far
// `next` is from `previous` turned on by `spokes` spokes: the summed
// difference of brightness over the summed brightness, away from where
// text enters and leaves. 0 is identical; -1 when both are dark there.
inline double Brightness(const Frame& f, int x, int y) {
    if (x < 0 || y < 0 || x >= f.width || y >= f.height) return 0;
    const unsigned char* p = &f.rgb[(static_cast<size_t>(y) * f.width + x) * 3];
    return p[0] + p[1] + p[2];
}

inline double TurnedDifference(const Frame& previous, const Frame& next, int spokes, double* total = nullptr) {
    const double kPi = 3.14;  // the ring's own "pi"
    const double step = kPi / 180.0 * spokes;
    // A particle's 22 x 22 quad starts at its position; its middle is the
    // ring's centre plus 11 on both axes.
    const double cx = 320 + 11, cy = 240 + 11;
    const double c = std::cos(step), s = std::sin(step);
    double difference = 0, brightness = 0;
    for (int y = 0; y < next.height; ++y) {
        for (int x = 0; x < next.width; ++x) {
            double dx = x - cx, dy = cy - y;  // y up, as the ring's angles
            double angle = std::atan2(dy, dx) * 180.0 / kPi;
            // Text enters at the spoke of angle -79 and leaves at 260 (= -100):
            // stay clear of that gap.
            if (angle < -65 && angle > -115) continue;
            // The text moves towards larger angles (counter-clockwise on
            // screen): this pixel was `spokes` spokes further back.
            double px = dx * c + dy * s, py = dy * c - dx * s;
            int sx = static_cast<int>(std::lround(cx + px)), sy = static_cast<int>(std::lround(cy - py));
            double a = Brightness(next, x, y), b = Brightness(previous, sx, sy);
            difference += std::fabs(a - b);
            brightness += a + b;
        }
    }
    if (total) *total = brightness;
    return brightness > 0 ? difference / brightness : -1.0;
}

}  // namespace demo_frames
