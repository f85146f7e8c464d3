// The additive kernel. What makes it fast on the demo's frames:
//  - vectors stay on a grid of `lanes` columns fixed to the target, never to
//    the sprite: the ring draws neighbouring particles a few pixels apart,
//    and a vector load that half overlaps the store of the sprite before it
//    waits for that store to reach the cache; on the grid every load finds
//    a store of the same place and size, or none;
//  - a sprite takes the same vectors on every row, so nothing the CPU must
//    guess changes from one row to the next (a sprite whose texture has
//    dark borders leaves them out);
//  - each field is added in the top byte of its lane with one saturating
//    add, which is the 8-bit sum and its saturation at once.
// Lanes of the grid that the sprite does not cover add a zero source, which
// leaves a pixel as it was.
#include "platform/raster_add.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

namespace standin {

namespace {

template <int Lanes>
struct Pixels {
    typedef uint16_t Type __attribute__((vector_size(2 * Lanes)));
};

// Saturating 16-bit addition (a += b), which the vector extensions cannot
// say: an instruction where there is one, else a + min(b, ~a). Vectors go by
// reference: by value, wide ones would be passed in a way no caller uses.
struct Portable {
    template <class V>
    static inline __attribute__((always_inline)) void AddSat(V& a, const V& b) {
#if defined(__SSE2__)
        for (size_t i = 0; i < sizeof(V); i += 16) {
            __m128i x, y;
            std::memcpy(&x, reinterpret_cast<const char*>(&a) + i, 16);
            std::memcpy(&y, reinterpret_cast<const char*>(&b) + i, 16);
            x = _mm_adds_epu16(x, y);
            std::memcpy(reinterpret_cast<char*>(&a) + i, &x, 16);
        }
#elif defined(__wasm_simd128__)
        for (size_t i = 0; i < sizeof(V); i += 16) {
            v128_t x, y;
            std::memcpy(&x, reinterpret_cast<const char*>(&a) + i, 16);
            std::memcpy(&y, reinterpret_cast<const char*>(&b) + i, 16);
            x = wasm_u16x8_add_sat(x, y);
            std::memcpy(reinterpret_cast<char*>(&a) + i, &x, 16);
        }
#else
        const V room = ~a;
        a += b < room ? b : room;
#endif
    }
};

// One pixel in an unsigned int: the sum first drops what a 16-bit lane
// would not have held.
struct Scalar {
    static inline void AddSat(unsigned& a, unsigned b) { a = std::min(0xFFFFu, (a & 0xFFFFu) + b); }
};

#if defined(__x86_64__) || defined(__i386__)
struct Avx2 {
    template <class V>
    static inline __attribute__((target("avx2"))) void AddSat(V& a, const V& b) {
        a = (V)_mm256_adds_epu16((__m256i)a, (__m256i)b);
    }
};
struct Avx512 {
    template <class V>
    static inline __attribute__((target("avx512f,avx512bw"))) void AddSat(V& a, const V& b) {
        a = (V)_mm512_adds_epu16((__m512i)a, (__m512i)b);
    }
};
#endif

// The top byte of each field's lane holds the field widened to 8 bits: the
// field's bits, then its top bits again. Lower bits that are not the
// widening are harmless: the sources have a zero low byte, so nothing
// carries into the top byte, and they are masked or shifted out after.
// hi, mid and lo are the sources of the high, middle and low field, each
// shifted up 8 bits.
template <class Ops, class V, class S>
inline __attribute__((always_inline)) void Add565(V& d, const S& hi, const S& mid, const S& lo) {
    V r = d & 0xF800;
    r |= r >> 5;
    Ops::AddSat(r, hi);
    V g = d & 0x07E0;
    g = (g << 5) | (g >> 1);
    Ops::AddSat(g, mid);
    V b = (d & 31) * 0x0840;  // the field at bits 11 and 6: no overlap
    Ops::AddSat(b, lo);
    d = (r & 0xF800) | ((g >> 5) & 0x07E0) | (b >> 11);
}

template <int Lanes, class Ops>
inline __attribute__((always_inline)) void AddVector(uint16_t* dst, const uint16_t* hi, const uint16_t* mid,
                                                    const uint16_t* lo) {
    typedef typename Pixels<Lanes>::Type V;
    V d, h, m, l;
    std::memcpy(&d, dst, sizeof d);
    std::memcpy(&h, hi, sizeof h);
    std::memcpy(&m, mid, sizeof m);
    std::memcpy(&l, lo, sizeof l);
    Add565<Ops>(d, h, m, l);
    std::memcpy(dst, &d, sizeof d);
}

// A sprite whose vectors all lie inside the target: the same vectors on
// every row, so no branch depends on the row.
template <int Lanes, int Vectors, class Ops>
inline __attribute__((always_inline)) void AddRows(BYTE* dst, LONG pitch, const uint16_t* red, ptrdiff_t stride,
                                                  ptrdiff_t hiPlane, ptrdiff_t loPlane, int rows) {
    for (int y = 0; y < rows; ++y) {
        uint16_t* out = reinterpret_cast<uint16_t*>(dst);
        for (int k = 0; k < Vectors; ++k)
            AddVector<Lanes, Ops>(out + k * Lanes, red + hiPlane * stride + k * Lanes, red + stride + k * Lanes,
                                  red + loPlane * stride + k * Lanes);
        dst += pitch;
        red += 3 * stride;
    }
}

inline void AddPixel(uint16_t* dst, uint16_t hi, uint16_t mid, uint16_t lo) {
    unsigned d = *dst;
    Add565<Scalar>(d, hi, mid, lo);
    *dst = static_cast<uint16_t>(d);
}

// The grid: columns at which a vector's address is a multiple of its size,
// so that none straddles two cache lines; column 0 when rows start at
// different alignments.
template <int Lanes>
inline int GridShift(const AddTarget& t) {
    const uintptr_t base = reinterpret_cast<uintptr_t>(t.pixels);
    if (base % 2 != 0 || t.pitch % (2 * Lanes) != 0) return 0;
    return static_cast<int>((base / 2) & (Lanes - 1));
}

// A sprite partly outside the target or near one of its sides: vectors
// only where the row is, pixel by pixel where it starts or ends inside one.
template <int Lanes, class Ops>
inline __attribute__((always_inline)) void AddClippedRows(const AddTarget& t, const AddDraw& draw, const AddSource& s,
                                                         int shift, int top, int bottom, ptrdiff_t hiPlane,
                                                         ptrdiff_t loPlane) {
    // Columns relative to the grid column at or left of the sprite.
    const int phase = (draw.x + shift) & (Lanes - 1);
    const int gridLeft = draw.x - phase;
    const int room = t.width - gridLeft;
    const int first = std::max(s.litLeft + phase, -gridLeft);
    const int end = std::min(s.litRight + phase, room);
    if (first >= end) return;
    const int down = first & ~(Lanes - 1);
    const int firstVector = gridLeft + down >= 0 ? down : down + Lanes;
    const ptrdiff_t hi = hiPlane * s.stride - phase, mid = s.stride - phase, lo = loPlane * s.stride - phase;
    for (int y = top; y < bottom; ++y) {
        uint16_t* row = reinterpret_cast<uint16_t*>(t.pixels + static_cast<ptrdiff_t>(y) * t.pitch) + gridLeft;
        const uint16_t* red = s.red + static_cast<ptrdiff_t>(y - draw.y) * 3 * s.stride;
        int c = first;
        for (; c < std::min(firstVector, end); ++c) AddPixel(row + c, red[hi + c], red[mid + c], red[lo + c]);
        for (c = firstVector; c < end && c + Lanes <= room; c += Lanes)
            AddVector<Lanes, Ops>(row + c, red + hi + c, red + mid + c, red + lo + c);
        for (c = std::max(c, first); c < end; ++c) AddPixel(row + c, red[hi + c], red[mid + c], red[lo + c]);
    }
}

template <int Lanes, class Ops>
inline __attribute__((always_inline)) void AddDraws(const AddTarget& target, const AddDraw* draws, size_t count) {
    // Copies: the pixel stores below cannot change them, so they stay in registers.
    const AddTarget t = target;
    const ptrdiff_t hiPlane = t.redHigh ? 0 : 2, loPlane = 2 - hiPlane;
    const int shift = GridShift<Lanes>(t);
    for (size_t k = 0; k < count; ++k) {
        const AddDraw draw = draws[k];
        const int top = std::max(draw.top, t.top), bottom = std::min(draw.bottom, t.bottom);
        if (top >= bottom) continue;
        const AddSource s = *draw.source;
        // Vectors on the grid from the one holding the first lit column to
        // the one holding the last.
        const int phase = (draw.x + shift) & (Lanes - 1);
        const int firstVector = (s.litLeft + phase) / Lanes;
        const int vectors = (s.litRight - 1 + phase) / Lanes - firstVector + 1;
        const int left = draw.x - phase + firstVector * Lanes, right = left + vectors * Lanes;
        if (left < 0 || right > t.width) {
            AddClippedRows<Lanes, Ops>(t, draw, s, shift, top, bottom, hiPlane, loPlane);
            continue;
        }
        BYTE* dst = t.pixels + static_cast<ptrdiff_t>(top) * t.pitch + static_cast<ptrdiff_t>(left) * 2;
        const uint16_t* red = s.red + static_cast<ptrdiff_t>(top - draw.y) * 3 * s.stride + (left - draw.x);
        const int rows = bottom - top;
        switch (vectors) {
            case 1: AddRows<Lanes, 1, Ops>(dst, t.pitch, red, s.stride, hiPlane, loPlane, rows); break;
            case 2: AddRows<Lanes, 2, Ops>(dst, t.pitch, red, s.stride, hiPlane, loPlane, rows); break;
            case 3: AddRows<Lanes, 3, Ops>(dst, t.pitch, red, s.stride, hiPlane, loPlane, rows); break;
            case 4: AddRows<Lanes, 4, Ops>(dst, t.pitch, red, s.stride, hiPlane, loPlane, rows); break;
            default: AddClippedRows<Lanes, Ops>(t, draw, s, shift, top, bottom, hiPlane, loPlane);
        }
    }
}

bool Always() { return true; }
void AddVector8(const AddTarget& t, const AddDraw* d, size_t n) { AddDraws<8, Portable>(t, d, n); }
void AddVector16(const AddTarget& t, const AddDraw* d, size_t n) { AddDraws<16, Portable>(t, d, n); }
void AddVector32(const AddTarget& t, const AddDraw* d, size_t n) { AddDraws<32, Portable>(t, d, n); }

#if defined(__x86_64__) || defined(__i386__)
bool HasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
bool HasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
}
__attribute__((target("avx2"))) void AddAvx2(const AddTarget& t, const AddDraw* d, size_t n) {
    AddDraws<16, Avx2>(t, d, n);
}
__attribute__((target("avx512f,avx512bw"))) void AddAvx512(const AddTarget& t, const AddDraw* d, size_t n) {
    AddDraws<32, Avx512>(t, d, n);
}
#endif

// Fastest last. The portable 16 and 32 lanes are there so that every width
// is tried on any CPU; 8 lanes is what a CPU without wider vectors runs.
const AddKernel kKernels[] = {
    {"vector-16", 16, Always, AddVector16},
    {"vector-32", 32, Always, AddVector32},
    {"vector-8", 8, Always, AddVector8},
#if defined(__x86_64__) || defined(__i386__)
    {"avx2-16", 16, HasAvx2, AddAvx2},
    {"avx512-32", 32, HasAvx512, AddAvx512},
#endif
};

}  // namespace

const AddKernel* AddKernels(size_t& count) {
    count = sizeof kKernels / sizeof kKernels[0];
    return kKernels;
}

const AddKernel& FastestAddKernel() {
    static const AddKernel* fastest = [] {
        const AddKernel* best = &kKernels[0];
        for (const AddKernel& k : kKernels)
            if (k.runs()) best = &k;
        return best;
    }();
    return *fastest;
}

}  // namespace standin
