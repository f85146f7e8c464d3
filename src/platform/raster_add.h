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

// The whole target widened, for draws added while the scene is still being
// recorded rather than a band at a time once it is done: a row is widened
// when a draw first reaches it, and further when a later draw reaches
// further, so that nothing need be known of the scene beforehand. Calls on
// disjoint rows may run at the same time.
struct AddCanvas {
    int width = 0, height = 0;     // the target's
    int columns = 0;               // bytes a plane row: the width rounded up to 64
    uint8_t* first = nullptr;      // row 0's high plane, on a cache line
    std::vector<int> left, right;  // per row, the widened columns (left == right: none)
    std::vector<uint8_t> memory;
};
// Sizes the canvas for a target with nothing widened; cheap when it fits already.
void FitAddCanvas(AddCanvas& canvas, int width, int height);
// Forgets what is widened without narrowing it back.
void ForgetAddCanvas(AddCanvas& canvas);

// A build of the kernel: vectors of `lanes` pixels, either portable code
// (GCC/clang vector extensions, any CPU) or code for x86 extensions.
struct AddKernel {
    const char* name;
    int lanes;
    bool (*runs)();  // this CPU can run it
    // A band: its lit part widened, the draws added, narrowed back.
    void (*add)(const AddTarget& target, const AddDraw* draws, size_t count, AddWork& work);
    // The draws added to the canvas, on the target's rows top .. bottom - 1
    // only, widening first what they reach that is not widened yet.
    void (*addTo)(const AddTarget& target, AddCanvas& canvas, const AddDraw* draws, size_t count);
    // The canvas's rows top .. bottom - 1 narrowed into the target and forgotten.
    void (*settle)(const AddTarget& target, AddCanvas& canvas);
};

// Every build there is (tests run each one this CPU can run).
const AddKernel* AddKernels(size_t& count);

// Which build is fastest depends on more than the widest vectors a CPU has
// (a CPU may split its widest ones in two, and wider vectors waste more of
// each row of a small sprite), so it is measured: each build this CPU runs
// adds the same small scene of overlapping sprites several times over,
// builds taking turns so that a moment of load elsewhere cannot favour one,
// and the best time of each counts. A few milliseconds.
struct AddKernelTime {
    const AddKernel* kernel;
    double microseconds;  // the best of the trials
};
const AddKernel& CalibrateAddKernels(std::vector<AddKernelTime>& times);

// The build the rasteriser uses unless told otherwise: calibrated the first
// time it is asked for, and named with the times on standard error under
// RINGSCROLLER_TRACE.
const AddKernel& FastestAddKernel();

}  // namespace standin
