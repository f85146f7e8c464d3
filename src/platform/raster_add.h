// The rasteriser's hot loop: stretched sprites added with saturation onto a
// 16-bit 5-6-5 target (ONE / ONE, or ONE / DESTALPHA on a target without
// alpha), the demo's every draw. Same arithmetic as the general path:
// each field widened to 8 bits by replicating its top bits, the source
// added, the sum saturated at 255 and narrowed again by truncation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/wintypes.h"

namespace standin {

// Vectors read this many zero values on either side of a source row.
constexpr int kAddPadding = 64;

// A stretched sprite as the kernel reads it: 8-bit red, green and blue, a
// plane each a row.
struct AddSource {
    int width = 0, height = 0;
    int stride = 0;                   // bytes from one plane row to the next
    const uint8_t* red = nullptr;     // row 0, column 0; green and blue follow a stride apart
    int litLeft = 0, litRight = 0;    // the columns and rows with light (no light: all 0)
    int litTop = 0, litBottom = 0;
};

// One draw: the source's top-left corner at (x, y) on the target; its lit
// rows are top .. bottom - 1, so that a band can pass over it cheaply.
struct AddDraw {
    const AddSource* source;
    int x, y;
    int top, bottom;
};

// Rows `top` .. `bottom` - 1 of a 5-6-5 target (red in the high or the low field).
struct AddTarget {
    BYTE* pixels;
    LONG pitch;
    int width;
    int top, bottom;
    bool redHigh;
};

// The kernel's memory, kept by the caller between calls, one per thread.
struct AddWork {
    std::vector<uint32_t> draws;
    std::vector<uint8_t> planes;
};

// A build of the kernel: vectors of `lanes` pixels, either portable code
// (GCC/clang vector extensions, any CPU) or code for one x86 extension.
struct AddKernel {
    const char* name;
    int lanes;
    bool (*runs)();  // this CPU can run it
    void (*add)(const AddTarget& target, const AddDraw* draws, size_t count, AddWork& work);
};

// Every build there is (tests run each one this CPU can run), and the one
// the rasteriser uses unless told otherwise: the fastest this CPU runs.
const AddKernel* AddKernels(size_t& count);
const AddKernel& FastestAddKernel();

}  // namespace standin
