// The additive kernel. A band's additive draws are not added to its 5-6-5
// pixels one at a time: the part of the band they light is widened once
// into planes of 8-bit fields (the high, middle and low field of every
// pixel, top bits replicated), every draw is added there, and the planes
// are narrowed back into the target at the end. On the planes a draw is,
// for each field and each vector of pixels, one saturating byte add, then
// the narrowing and widening again in four operations,
//     5 bits: (x & 0xF8) | (x >> 5)        6 bits: (x & 0xFC) | (x >> 6),
// which is exactly the 8-bit sum followed by the truncation to the field.
// Besides:
//  - vectors stay on a grid of `lanes` columns fixed to the target, never to
//    the sprite: the ring draws neighbouring particles a few pixels apart,
//    and a vector load that half overlaps the store of the sprite before it
//    waits for that store to reach the cache; on the grid every load finds a
//    store of the same place and size, or none;
//  - a sprite takes the same vectors on every row, so nothing the CPU must
//    guess changes from one row to the next.
// Lanes of the grid that a sprite does not cover add a zero source, which
// leaves a field as it was.
#include "platform/raster_add.h"

#include <algorithm>
#include <climits>
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
struct Vec {
    typedef uint8_t Bytes __attribute__((vector_size(Lanes)));
    // Half a vector of pixels as 16-bit words: one register, like Bytes.
    typedef uint8_t HalfBytes __attribute__((vector_size(Lanes / 2)));
    typedef uint16_t HalfWords __attribute__((vector_size(Lanes)));
};

// a = add(a, b) sixteen bytes at a time, for a 128-bit instruction `add`.
template <class Register, class V, class Add>
inline __attribute__((always_inline)) void InPieces(V& a, const V& b, Add add) {
    for (size_t i = 0; i < sizeof(V); i += 16) {
        Register x, y;
        std::memcpy(&x, reinterpret_cast<const char*>(&a) + i, 16);
        std::memcpy(&y, reinterpret_cast<const char*>(&b) + i, 16);
        x = add(x, y);
        std::memcpy(reinterpret_cast<char*>(&a) + i, &x, 16);
    }
}

// Saturating byte addition (a += b), which the vector extensions cannot
// say: an instruction where there is one, else a + min(b, ~a). Vectors go by
// reference: by value, wide ones would be passed in a way no caller uses.
struct Portable {
    template <class V>
    static inline __attribute__((always_inline)) void AddSat(V& a, const V& b) {
#if defined(__SSE2__)
        InPieces<__m128i>(a, b, [](__m128i x, __m128i y) { return _mm_adds_epu8(x, y); });
#elif defined(__wasm_simd128__)
        InPieces<v128_t>(a, b, [](v128_t x, v128_t y) { return wasm_u8x16_add_sat(x, y); });
#else
        const V room = ~a;
        a += b < room ? b : room;
#endif
    }
};

#if defined(__x86_64__) || defined(__i386__)
struct Avx2 {
    template <class V>
    static inline __attribute__((target("avx2"))) void AddSat(V& a, const V& b) {
        a = (V)_mm256_adds_epu8((__m256i)a, (__m256i)b);
    }
};
struct Avx512 {
    template <class V>
    static inline __attribute__((target("avx512f,avx512bw"))) void AddSat(V& a, const V& b) {
        a = (V)_mm512_adds_epu8((__m512i)a, (__m512i)b);
    }
};
#endif

// A pixel's fields widened to 8 bits and back; W is a vector of 16-bit
// lanes, or unsigned for one pixel.
template <class W>
inline __attribute__((always_inline)) void Widen(const W& d, W& hi, W& mid, W& lo) {
    hi = ((d >> 8) & 0xF8) | (d >> 13);
    mid = ((d >> 3) & 0xFC) | ((d >> 9) & 3);
    lo = ((d << 3) & 0xF8) | ((d >> 2) & 7);
}
template <class W>
inline __attribute__((always_inline)) void Narrow(const W& hi, const W& mid, const W& lo, W& d) {
    d = ((hi & 0xF8) << 8) | ((mid & 0xFC) << 3) | (lo >> 3);
}

// The widened part of a band: rows top .. bottom - 1, and from target
// column `left` (a multiple of the lanes) `columns` bytes a plane; a row
// holds its high, middle and low plane one after the other.
struct Planes {
    uint8_t* first;  // row `top`, high plane, column `left`
    int left, columns;
    int top, bottom;
    uint8_t* Row(int y) const { return first + static_cast<ptrdiff_t>(y - top) * 3 * columns; }
};

// row(pixels, high, middle, low plane, columns inside the target) for each
// row of the widened part, every pointer at its column `left`.
template <class Row>
inline __attribute__((always_inline)) void ForEachRow(const AddTarget& t, const Planes& p, Row row) {
    const int inside = std::min(p.columns, t.width - p.left);
    for (int y = p.top; y < p.bottom; ++y) {
        uint16_t* pixels = reinterpret_cast<uint16_t*>(t.pixels + static_cast<ptrdiff_t>(y) * t.pitch) + p.left;
        uint8_t* hi = p.Row(y);
        row(pixels, hi, hi + p.columns, hi + 2 * p.columns, inside);
    }
}

// Half a vector of pixels at a time, a register of words each.
template <int Lanes>
inline __attribute__((always_inline)) void WidenPlanes(const AddTarget& t, const Planes& p) {
    typedef typename Vec<Lanes>::HalfBytes Bytes;
    typedef typename Vec<Lanes>::HalfWords Words;
    constexpr int kStep = Lanes / 2;
    ForEachRow(t, p, [&](const uint16_t* in, uint8_t* hi, uint8_t* mid, uint8_t* lo, int inside)
                         __attribute__((always_inline)) {
        int x = 0;
        for (; x + kStep <= inside; x += kStep) {
            Words d, h, m, l;
            std::memcpy(&d, in + x, sizeof d);
            Widen(d, h, m, l);
            const Bytes hb = __builtin_convertvector(h, Bytes), mb = __builtin_convertvector(m, Bytes),
                        lb = __builtin_convertvector(l, Bytes);
            std::memcpy(hi + x, &hb, kStep);
            std::memcpy(mid + x, &mb, kStep);
            std::memcpy(lo + x, &lb, kStep);
        }
        for (; x < inside; ++x) {
            unsigned h, m, l;
            Widen(static_cast<unsigned>(in[x]), h, m, l);
            hi[x] = static_cast<uint8_t>(h);
            mid[x] = static_cast<uint8_t>(m);
            lo[x] = static_cast<uint8_t>(l);
        }
        // Columns past the target's edge are added to but never narrowed back.
        for (; x < p.columns; ++x) hi[x] = mid[x] = lo[x] = 0;
    });
}

template <int Lanes>
inline __attribute__((always_inline)) void NarrowPlanes(const AddTarget& t, const Planes& p) {
    typedef typename Vec<Lanes>::HalfBytes Bytes;
    typedef typename Vec<Lanes>::HalfWords Words;
    constexpr int kStep = Lanes / 2;
    ForEachRow(t, p, [&](uint16_t* out, const uint8_t* hi, const uint8_t* mid, const uint8_t* lo, int inside)
                         __attribute__((always_inline)) {
        int x = 0;
        for (; x + kStep <= inside; x += kStep) {
            Bytes hb, mb, lb;
            std::memcpy(&hb, hi + x, kStep);
            std::memcpy(&mb, mid + x, kStep);
            std::memcpy(&lb, lo + x, kStep);
            const Words h = __builtin_convertvector(hb, Words), m = __builtin_convertvector(mb, Words),
                        l = __builtin_convertvector(lb, Words);
            Words d;
            Narrow(h, m, l, d);
            std::memcpy(out + x, &d, sizeof d);
        }
        for (; x < inside; ++x) {
            unsigned d;
            Narrow(static_cast<unsigned>(hi[x]), static_cast<unsigned>(mid[x]), static_cast<unsigned>(lo[x]), d);
            out[x] = static_cast<uint16_t>(d);
        }
    });
}

// One vector of one plane: the source added, the field narrowed to `Bits`
// and widened again.
template <int Lanes, int Bits, class Ops>
inline __attribute__((always_inline)) void AddField(uint8_t* dst, const uint8_t* src) {
    typedef typename Vec<Lanes>::Bytes Bytes;
    Bytes x, s;
    std::memcpy(&x, dst, Lanes);
    std::memcpy(&s, src, Lanes);
    Ops::AddSat(x, s);
    x = (x & static_cast<uint8_t>(0xFF << (8 - Bits))) | (x >> Bits);
    std::memcpy(dst, &x, Lanes);
}

// `rows` rows of `vectors` vectors a plane; dst and src at the first vector.
template <int Lanes, class Ops>
inline __attribute__((always_inline)) void AddVectors(uint8_t* dst, ptrdiff_t columns, const uint8_t* src,
                                                     ptrdiff_t stride, ptrdiff_t hiPlane, ptrdiff_t loPlane,
                                                     int vectors, int rows) {
    for (int y = 0; y < rows; ++y) {
        for (int k = 0; k < vectors * Lanes; k += Lanes) {
            AddField<Lanes, 5, Ops>(dst + k, src + hiPlane * stride + k);
            AddField<Lanes, 6, Ops>(dst + columns + k, src + stride + k);
            AddField<Lanes, 5, Ops>(dst + 2 * columns + k, src + loPlane * stride + k);
        }
        dst += 3 * columns;
        src += 3 * stride;
    }
}

template <int Lanes, class Ops>
inline __attribute__((always_inline)) void AddDraws(const AddTarget& target, const AddDraw* draws, size_t count,
                                                   AddWork& work) {
    // Copies: the stores below cannot change them, so they stay in registers.
    const AddTarget t = target;
    // The draws that light the band, in order, and the part of it they light.
    std::vector<uint32_t>& mine = work.draws;
    mine.clear();
    int xmin = INT_MAX, xmax = INT_MIN, ymin = INT_MAX, ymax = INT_MIN;
    for (size_t k = 0; k < count; ++k) {
        const AddDraw& d = draws[k];
        if (d.top >= t.bottom || d.bottom <= t.top) continue;
        const AddSource& s = *d.source;
        const int left = std::max(d.x + s.litLeft, 0), right = std::min(d.x + s.litRight, t.width);
        if (left >= right) continue;
        mine.push_back(static_cast<uint32_t>(k));
        xmin = std::min(xmin, left);
        xmax = std::max(xmax, right);
        ymin = std::min(ymin, std::max(d.top, t.top));
        ymax = std::max(ymax, std::min(d.bottom, t.bottom));
    }
    if (mine.empty()) return;
    Planes p;
    p.left = xmin & ~(Lanes - 1);
    p.columns = (xmax - p.left + Lanes - 1) & ~(Lanes - 1);
    p.top = ymin;
    p.bottom = ymax;
    const size_t bytes = static_cast<size_t>(3) * p.columns * (p.bottom - p.top);
    std::vector<uint8_t>& planes = work.planes;
    if (planes.size() < bytes + 64) planes.resize(bytes + 64);
    // Whole vectors start on cache-line boundaries.
    p.first = planes.data() + ((64 - reinterpret_cast<uintptr_t>(planes.data()) % 64) % 64);
    WidenPlanes<Lanes>(t, p);

    const ptrdiff_t hiPlane = t.redHigh ? 0 : 2, loPlane = 2 - hiPlane;
    for (uint32_t k : mine) {
        const AddDraw draw = draws[k];
        const int top = std::max(draw.top, p.top), bottom = std::min(draw.bottom, p.bottom);
        const AddSource s = *draw.source;
        // Vectors on the grid from the one holding the first lit column to
        // the one holding the last, inside the planes.
        const int phase = draw.x & (Lanes - 1);
        const int gridLeft = draw.x - phase;
        const int left = std::max(gridLeft + (s.litLeft + phase) / Lanes * Lanes, p.left);
        const int right = std::min(gridLeft + ((s.litRight - 1 + phase) / Lanes + 1) * Lanes, p.left + p.columns);
        if (left >= right) continue;
        uint8_t* dst = p.Row(top) + (left - p.left);
        const uint8_t* src = s.red + static_cast<ptrdiff_t>(top - draw.y) * 3 * s.stride + (left - draw.x);
        const int rows = bottom - top;
        // A constant count of vectors lets the compiler unroll the row.
        switch ((right - left) / Lanes) {
            case 1: AddVectors<Lanes, Ops>(dst, p.columns, src, s.stride, hiPlane, loPlane, 1, rows); break;
            case 2: AddVectors<Lanes, Ops>(dst, p.columns, src, s.stride, hiPlane, loPlane, 2, rows); break;
            case 3: AddVectors<Lanes, Ops>(dst, p.columns, src, s.stride, hiPlane, loPlane, 3, rows); break;
            default:
                AddVectors<Lanes, Ops>(dst, p.columns, src, s.stride, hiPlane, loPlane, (right - left) / Lanes, rows);
        }
    }
    NarrowPlanes<Lanes>(t, p);
}

using Work = AddWork;

bool Always() { return true; }
void AddVector16(const AddTarget& t, const AddDraw* d, size_t n, Work& w) { AddDraws<16, Portable>(t, d, n, w); }
void AddVector32(const AddTarget& t, const AddDraw* d, size_t n, Work& w) { AddDraws<32, Portable>(t, d, n, w); }
void AddVector64(const AddTarget& t, const AddDraw* d, size_t n, Work& w) { AddDraws<64, Portable>(t, d, n, w); }

#if defined(__x86_64__) || defined(__i386__)
bool HasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
bool HasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
}
__attribute__((target("avx2"))) void AddAvx2(const AddTarget& t, const AddDraw* d, size_t n, Work& w) {
    AddDraws<32, Avx2>(t, d, n, w);
}
__attribute__((target("avx512f,avx512bw"))) void AddAvx512(const AddTarget& t, const AddDraw* d, size_t n, Work& w) {
    AddDraws<64, Avx512>(t, d, n, w);
}
#endif

// Fastest last. The portable 32 and 64 lanes are there so that every width
// is tried on any CPU; 16 lanes (128 bits) is what a CPU without wider
// vectors runs.
const AddKernel kKernels[] = {
    {"vector-32", 32, Always, AddVector32},
    {"vector-64", 64, Always, AddVector64},
    {"vector-16", 16, Always, AddVector16},
#if defined(__x86_64__) || defined(__i386__)
    {"avx2-32", 32, HasAvx2, AddAvx2},
    {"avx512-64", 64, HasAvx512, AddAvx512},
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
