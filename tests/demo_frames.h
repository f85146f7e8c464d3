// Reading and judging the demo's captured frames: shared by the in-process
// demo runs and the end-to-end check of a real program's capture folder.
#pragma once

#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace demo_frames {

struct Frame {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;  // width * height * 3
    // Summed red, green and blue; 0 outside the frame.
    int Brightness(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return 0;
        const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        return p[0] + p[1] + p[2];
    }
};

// An 8-bit RGB PNG as the capture writes it; false for anything else.
inline bool ReadPng(const std::string& path, Frame& frame) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    if (image.format != PNG_FORMAT_RGB) {
        png_image_free(&image);
        return false;
    }
    frame.width = static_cast<int>(image.width);
    frame.height = static_cast<int>(image.height);
    frame.rgb.assign(PNG_IMAGE_SIZE(image), 0);
    return png_image_finish_read(&image, nullptr, frame.rgb.data(), 0, nullptr) != 0;
}

inline std::string FrameName(unsigned long number) {
    char name[40];
    std::snprintf(name, sizeof name, "frame-%06lu.png", number);
    return name;
}

// The ring's particles sit at x 127..513 and y 47..429 (top-left corners),
// each drawn 22 x 22: nothing may be lit outside that box.
// Lit pixels in the whole frame, or only those outside the ring's box.
inline long LitCount(const Frame& f, bool outsideRingOnly = false) {
    long n = 0;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x)
            n += f.Brightness(x, y) > 0 && (!outsideRingOnly || x < 127 || x > 513 + 21 || y < 47 || y > 429 + 21);
    return n;
}

// The text moves one spoke (one glyph column) a frame round the ring: the
// next frame is this one turned by one spoke about the ring's centre, up to
// rounding. Returns the summed difference of brightness between `next` and
// `previous` turned on by `spokes`, over the summed brightness (`total`),
// away from where text enters and leaves. 0 is identical; -1 when dark.
inline double TurnedDifference(const Frame& previous, const Frame& next, int spokes, double* total = nullptr) {
    const double kPi = 3.14;  // the ring's own "pi"
    const double c = std::cos(kPi / 180.0 * spokes), s = std::sin(kPi / 180.0 * spokes);
    const double cx = 320 + 11, cy = 240 + 11;  // the ring's centre plus half a 22 x 22 quad
    double difference = 0, brightness = 0;
    for (int y = 0; y < next.height; ++y) {
        for (int x = 0; x < next.width; ++x) {
            double dx = x - cx, dy = cy - y;  // y up, as the ring's angles
            // Text enters at the spoke of angle -79 and leaves at 260 (= -100).
            double angle = std::atan2(dy, dx) * 180.0 / kPi;
            if (angle < -65 && angle > -115) continue;
            // Text moves counter-clockwise: this pixel was `spokes` further back.
            double px = dx * c + dy * s, py = dy * c - dx * s;
            double a = next.Brightness(x, y);
            double b = previous.Brightness(static_cast<int>(std::lround(cx + px)), static_cast<int>(std::lround(cy - py)));
            difference += std::fabs(a - b);
            brightness += a + b;
        }
    }
    if (total) *total = brightness;
    return brightness > 0 ? difference / brightness : -1.0;
}

}  // namespace demo_frames
