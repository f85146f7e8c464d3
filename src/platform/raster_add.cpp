// The additive kernel. A band's additive draws are not added to its 5-6-5
// pixels one at a time: the part of the band they light is widened once
// into planes of 8-bit fields (the high, middle and low field of every
// pixel, top bits replicated), every draw is added there, and the planes
// are narrowed back into the target at the end. On the planes a draw is,
// for each field and each vector of pixels, one saturating byte add, then
// the narrowing and widening again in four operations,
//     5 bits: (x & 0xF8) | (x >> 5)        6 bits: (x & 0xFC) | (x >> 6),
// which is exactly the 8-bit sum followed by the truncation to the field
// (with GFNI, one instruction: both are a fixed shuffle of a byte's bits).
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
#include <chrono>
#include <cmath>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "platform/standin.h"

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
};

// Bytes 0, 2, 4 ... (Odd: 1, 3, 5 ...) of a and b one after the other: the
// low (high) bytes of two vectors of 16-bit pixels.
template <class V, size_t... I>
inline __attribute__((always_inline)) void Alternate(const V& a, const V& b, size_t odd, V& out,
                                                    std::index_sequence<I...>) {
    out = odd ? __builtin_shufflevector(a, b, (2 * I + 1)...) : __builtin_shufflevector(a, b, (2 * I)...);
}
// The bytes of lo and hi taken in turns, from byte `from` of each: the
// 16-bit pixels of half the vectors' lanes.
template <size_t N, class V, size_t... I>
inline __attribute__((always_inline)) void Interleave(const V& lo, const V& hi, V& out, std::index_sequence<I...>) {
    out = __builtin_shufflevector(lo, hi, ((I % 2 ? sizeof(V) : 0) + N + I / 2)...);
}

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

// The kernel's bit work on vectors of bytes, with shifts and masks on any
// CPU. A 5-6-5 pixel is a low byte L (green's low 3 bits, then blue) and a
// high byte H (red, then green's top 3 bits).
struct Shifts {
    // After the add, the field narrowed to `Bits` and widened again: the top
    // bits kept and copied down.
    template <int Bits, class V>
    static inline __attribute__((always_inline)) void Settle(V& x) {
        x = (x & static_cast<uint8_t>(0xFF << (8 - Bits))) | (x >> Bits);
    }
    // The three fields widened to 8 bits by replicating their top bits.
    template <class V>
    static inline __attribute__((always_inline)) void Widen(const V& h, const V& l, V& hi, V& mid, V& lo) {
        hi = (h & 0xF8) | (h >> 5);
        mid = (h << 5) | ((l >> 3) & 0x1C) | ((h >> 1) & 3);
        lo = (l << 3) | ((l >> 2) & 7);
    }
    // And back, by truncation: a pixel's two bytes.
    template <class V>
    static inline __attribute__((always_inline)) void Narrow(const V& hi, const V& mid, const V& lo, V& h, V& l) {
        h = (hi & 0xF8) | (mid >> 5);
        l = ((mid << 3) & 0xE0) | (lo >> 3);
    }
};

// Saturating byte addition (a += b), which the vector extensions cannot
// say: an instruction where there is one, else a + min(b, ~a). Vectors go by
// reference: by value, wide ones would be passed in a way no caller uses.
struct Portable : Shifts {
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

// The same with every byte shift made of a 16-bit shift and a mask, which
// drops the bits carried across from the neighbouring byte. WebAssembly has
// byte shifts, but x86 has none, so a browser there makes each one from a
// 16-bit shift and a mask it builds every time: five instructions where
// this is two, the mask staying in a register.
struct Words : Portable {
    template <int N, class V>
    static inline __attribute__((always_inline)) void Right(const V& x, V& out) {
        typedef uint16_t W __attribute__((vector_size(sizeof(V))));
        out = (V)((W)x >> N) & static_cast<uint8_t>(0xFF >> N);
    }
    template <int N, class V>
    static inline __attribute__((always_inline)) void Left(const V& x, V& out) {
        typedef uint16_t W __attribute__((vector_size(sizeof(V))));
        out = (V)((W)x << N) & static_cast<uint8_t>(0xFF << N);
    }
    template <int Bits, class V>
    static inline __attribute__((always_inline)) void Settle(V& x) {
        V down;
        Right<Bits>(x, down);
        x = (x & static_cast<uint8_t>(0xFF << (8 - Bits))) | down;
    }
    template <class V>
    static inline __attribute__((always_inline)) void Widen(const V& h, const V& l, V& hi, V& mid, V& lo) {
        V h5, h1, l3, l2;
        Right<5>(h, h5);
        Right<1>(h, h1);
        Right<3>(l, l3);
        Right<2>(l, l2);
        hi = (h & 0xF8) | h5;
        Left<5>(h, mid);
        mid |= (l3 & 0x1C) | (h1 & 3);
        Left<3>(l, lo);
        lo |= l2 & 7;
    }
    template <class V>
    static inline __attribute__((always_inline)) void Narrow(const V& hi, const V& mid, const V& lo, V& h, V& l) {
        V m5, m3, l3;
        Right<5>(mid, m5);
        Left<3>(mid, m3);
        Right<3>(lo, l3);
        h = (hi & 0xF8) | m5;
        l = (m3 & 0xE0) | l3;
    }
};

#if defined(__x86_64__) || defined(__i386__)
struct Avx2 : Shifts {
    template <class V>
    static inline __attribute__((target("avx2"))) void AddSat(V& a, const V& b) {
        a = (V)_mm256_adds_epu8((__m256i)a, (__m256i)b);
    }
};
struct Avx512 : Shifts {
    template <class V>
    static inline __attribute__((target("avx512f,avx512bw"))) void AddSat(V& a, const V& b) {
        a = (V)_mm512_adds_epu8((__m512i)a, (__m512i)b);
    }
};

// With GFNI each of those is one instruction, or two and an OR: every
// output bit of a byte is some input bit of a byte, which makes it a GF(2)
// affine map. The matrix for output bits 7 .. 0 taken from input bits
// `from` (-1: none): row i, the bits that make output bit i, is byte 7 - i.
constexpr long long BitMatrix(int b7, int b6, int b5, int b4, int b3, int b2, int b1, int b0) {
    const int from[8] = {b7, b6, b5, b4, b3, b2, b1, b0};
    unsigned long long m = 0;
    for (int i = 7; i >= 0; --i)
        if (from[7 - i] >= 0) m |= (1ull << from[7 - i]) << (8 * (7 - i));
    return static_cast<long long>(m);
}
template <int Bits>
constexpr long long kSettle = Bits == 5 ? BitMatrix(7, 6, 5, 4, 3, 7, 6, 5) : BitMatrix(7, 6, 5, 4, 3, 2, 7, 6);
constexpr long long kWidenHigh = kSettle<5>;
constexpr long long kMiddleFromHigh = BitMatrix(2, 1, 0, -1, -1, -1, 2, 1);
constexpr long long kMiddleFromLow = BitMatrix(-1, -1, -1, 7, 6, 5, -1, -1);
constexpr long long kWidenLow = BitMatrix(4, 3, 2, 1, 0, 4, 3, 2);
constexpr long long kHighFromMiddle = BitMatrix(-1, -1, -1, -1, -1, 7, 6, 5);
constexpr long long kLowFromMiddle = BitMatrix(4, 3, 2, -1, -1, -1, -1, -1);
constexpr long long kLowFromLow = BitMatrix(-1, -1, -1, 7, 6, 5, 4, 3);

// `Map` is the vector width's affine instruction: Map::Apply<matrix>(x, out).
template <class Base, class Map>
struct Gfni : Base {
    template <int Bits, class V>
    static inline __attribute__((always_inline)) void Settle(V& x) {
        Map::template Apply<kSettle<Bits>>(x, x);
    }
    template <class V>
    static inline __attribute__((always_inline)) void Widen(const V& h, const V& l, V& hi, V& mid, V& lo) {
        V fromLow;
        Map::template Apply<kWidenHigh>(h, hi);
        Map::template Apply<kMiddleFromHigh>(h, mid);
        Map::template Apply<kMiddleFromLow>(l, fromLow);
        mid |= fromLow;
        Map::template Apply<kWidenLow>(l, lo);
    }
    template <class V>
    static inline __attribute__((always_inline)) void Narrow(const V& hi, const V& mid, const V& lo, V& h, V& l) {
        V fromLow;
        Map::template Apply<kHighFromMiddle>(mid, h);
        h |= hi & 0xF8;
        Map::template Apply<kLowFromMiddle>(mid, l);
        Map::template Apply<kLowFromLow>(lo, fromLow);
        l |= fromLow;
    }
};
struct Affine256 {
    template <long long M, class V>
    static inline __attribute__((target("gfni,avx2"))) void Apply(const V& x, V& out) {
        out = (V)_mm256_gf2p8affine_epi64_epi8((__m256i)x, _mm256_set1_epi64x(M), 0);
    }
};
struct Affine512 {
    template <long long M, class V>
    static inline __attribute__((target("gfni,avx512f,avx512bw"))) void Apply(const V& x, V& out) {
        out = (V)_mm512_gf2p8affine_epi64_epi8((__m512i)x, _mm512_set1_epi64(M), 0);
    }
};
using Avx2Gfni = Gfni<Avx2, Affine256>;
using Avx512Gfni = Gfni<Avx512, Affine512>;
#endif

// One pixel's fields widened to 8 bits and back, for the ends of rows that
// fill no whole vector.
inline void Widen(unsigned d, unsigned& hi, unsigned& mid, unsigned& lo) {
    hi = ((d >> 8) & 0xF8) | (d >> 13);
    mid = ((d >> 3) & 0xFC) | ((d >> 9) & 3);
    lo = ((d << 3) & 0xF8) | ((d >> 2) & 7);
}
inline void Narrow(unsigned hi, unsigned mid, unsigned lo, unsigned& d) {
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

// One row of the widened part: `columns` pixels from `in` into the three
// planes, of which the first `inside` lie inside the target. A vector of
// each plane at a time: two of pixels, split into their low and their high
// bytes.
template <int Lanes, class Ops>
inline __attribute__((always_inline)) void WidenRow(const uint16_t* in, uint8_t* hi, uint8_t* mid, uint8_t* lo,
                                                   int inside, int columns) {
    typedef typename Vec<Lanes>::Bytes Bytes;
    constexpr auto kLanes = std::make_index_sequence<Lanes>();
    int x = 0;
    for (; x + Lanes <= inside; x += Lanes) {
        Bytes a, b;
        std::memcpy(&a, in + x, Lanes);
        std::memcpy(&b, in + x + Lanes / 2, Lanes);
        Bytes l, h, hb, mb, lb;
        Alternate(a, b, 0, l, kLanes);
        Alternate(a, b, 1, h, kLanes);
        Ops::Widen(h, l, hb, mb, lb);
        std::memcpy(hi + x, &hb, Lanes);
        std::memcpy(mid + x, &mb, Lanes);
        std::memcpy(lo + x, &lb, Lanes);
    }
    for (; x < inside; ++x) {
        unsigned h, m, l;
        Widen(in[x], h, m, l);
        hi[x] = static_cast<uint8_t>(h);
        mid[x] = static_cast<uint8_t>(m);
        lo[x] = static_cast<uint8_t>(l);
    }
    // Columns past the target's edge are added to but never narrowed back.
    for (x = std::max(x, 0); x < columns; ++x) hi[x] = mid[x] = lo[x] = 0;
}

template <int Lanes, class Ops>
inline __attribute__((always_inline)) void NarrowRow(uint16_t* out, const uint8_t* hi, const uint8_t* mid,
                                                    const uint8_t* lo, int inside) {
    typedef typename Vec<Lanes>::Bytes Bytes;
    constexpr auto kLanes = std::make_index_sequence<Lanes>();
    int x = 0;
    for (; x + Lanes <= inside; x += Lanes) {
        Bytes hb, mb, lb;
        std::memcpy(&hb, hi + x, Lanes);
        std::memcpy(&mb, mid + x, Lanes);
        std::memcpy(&lb, lo + x, Lanes);
        Bytes h, l, first, second;
        Ops::Narrow(hb, mb, lb, h, l);
        Interleave<0>(l, h, first, kLanes);
        Interleave<Lanes / 2>(l, h, second, kLanes);
        std::memcpy(out + x, &first, Lanes);
        std::memcpy(out + x + Lanes / 2, &second, Lanes);
    }
    for (; x < inside; ++x) {
        unsigned d;
        Narrow(hi[x], mid[x], lo[x], d);
        out[x] = static_cast<uint16_t>(d);
    }
}

template <int Lanes, class Ops>
inline __attribute__((always_inline)) void WidenPlanes(const AddTarget& t, const Planes& p) {
    ForEachRow(t, p, [&](const uint16_t* in, uint8_t* hi, uint8_t* mid, uint8_t* lo, int inside)
                         __attribute__((always_inline)) { WidenRow<Lanes, Ops>(in, hi, mid, lo, inside, p.columns); });
}

template <int Lanes, class Ops>
inline __attribute__((always_inline)) void NarrowPlanes(const AddTarget& t, const Planes& p) {
    ForEachRow(t, p, [&](uint16_t* out, const uint8_t* hi, const uint8_t* mid, const uint8_t* lo, int inside)
                         __attribute__((always_inline)) { NarrowRow<Lanes, Ops>(out, hi, mid, lo, inside); });
}

// One vector of one plane: the source added, the field settled.
template <int Lanes, int Bits, class Ops>
inline __attribute__((always_inline)) void AddField(uint8_t* dst, const uint8_t* src) {
    typedef typename Vec<Lanes>::Bytes Bytes;
    Bytes x, s;
    std::memcpy(&x, dst, Lanes);
    std::memcpy(&s, src, Lanes);
    Ops::AddSat(x, s);
    Ops::template Settle<Bits>(x);
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

// A draw's vectors on the grid: from the one holding its first lit column to
// the one holding its last, clipped to columns from `lowest` to `highest`.
template <int Lanes>
inline __attribute__((always_inline)) void Vectors(int x, const AddSource& s, int lowest, int highest, int& left,
                                                  int& right) {
    const int phase = x & (Lanes - 1);
    const int gridLeft = x - phase;
    left = std::max(gridLeft + (s.litLeft + phase) / Lanes * Lanes, lowest);
    right = std::min(gridLeft + ((s.litRight - 1 + phase) / Lanes + 1) * Lanes, highest);
}

// A draw's rows top .. bottom - 1, columns left .. right - 1 (on the grid),
// added to planes whose row `top` starts at `row` (high plane, column 0).
template <int Lanes, class Ops>
inline __attribute__((always_inline)) void AddRows(const AddDraw& draw, const AddSource& s, uint8_t* row,
                                                  ptrdiff_t columns, int top, int bottom, int left, int right,
                                                  ptrdiff_t hiPlane, ptrdiff_t loPlane) {
    uint8_t* dst = row + left;
    const uint8_t* src = s.red + static_cast<ptrdiff_t>(top - draw.y) * 3 * s.stride + (left - draw.x);
    const int rows = bottom - top;
    // A constant count of vectors lets the compiler unroll the row.
    switch ((right - left) / Lanes) {
        case 1: AddVectors<Lanes, Ops>(dst, columns, src, s.stride, hiPlane, loPlane, 1, rows); break;
        case 2: AddVectors<Lanes, Ops>(dst, columns, src, s.stride, hiPlane, loPlane, 2, rows); break;
        case 3: AddVectors<Lanes, Ops>(dst, columns, src, s.stride, hiPlane, loPlane, 3, rows); break;
        default: AddVectors<Lanes, Ops>(dst, columns, src, s.stride, hiPlane, loPlane, (right - left) / Lanes, rows);
    }
}

// The draw lights some of the target's columns.
inline bool LightsColumns(const AddDraw& d, const AddSource& s, int width) {
    return std::max(d.x + s.litLeft, 0) < std::min(d.x + s.litRight, width);
}

// The draw lights some of the band's rows and columns.
inline bool LightsBand(const AddDraw& d, const AddTarget& t) {
    return d.top < t.bottom && d.bottom > t.top && LightsColumns(d, *d.source, t.width);
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
        if (!LightsBand(d, t)) continue;
        const AddSource& s = *d.source;
        mine.push_back(static_cast<uint32_t>(k));
        xmin = std::min(xmin, std::max(d.x + s.litLeft, 0));
        xmax = std::max(xmax, std::min(d.x + s.litRight, t.width));
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
    WidenPlanes<Lanes, Ops>(t, p);

    const ptrdiff_t hiPlane = t.redHigh ? 0 : 2, loPlane = 2 - hiPlane;
    for (uint32_t k : mine) {
        const AddDraw draw = draws[k];
        const int top = std::max(draw.top, p.top), bottom = std::min(draw.bottom, p.bottom);
        const AddSource s = *draw.source;
        int left, right;
        Vectors<Lanes>(draw.x, s, p.left, p.left + p.columns, left, right);
        if (left >= right) continue;
        AddRows<Lanes, Ops>(draw, s, p.Row(top) - p.left, p.columns, top, bottom, left, right, hiPlane, loPlane);
    }
    NarrowPlanes<Lanes, Ops>(t, p);
}

// ---------------------------------------------------------------------------
// The canvas

inline uint8_t* CanvasRow(const AddCanvas& c, int y) { return c.first + static_cast<ptrdiff_t>(y) * 3 * c.columns; }

// Columns a .. b - 1 of row y widened (a and b on the grid).
template <int Lanes, class Ops>
inline __attribute__((always_inline)) void WidenSpan(const AddTarget& t, const AddCanvas& c, int y, int a, int b) {
    const uint16_t* in = reinterpret_cast<const uint16_t*>(t.pixels + static_cast<ptrdiff_t>(y) * t.pitch) + a;
    uint8_t* hi = CanvasRow(c, y) + a;
    WidenRow<Lanes, Ops>(in, hi, hi + c.columns, hi + 2 * c.columns, std::min(b, t.width) - a, b - a);
}

// Row y widened at least over columns left .. right - 1. A row's widened
// part stays one span, so that it is two numbers to check.
template <int Lanes, class Ops>
inline __attribute__((always_inline)) void Reach(const AddTarget& t, AddCanvas& c, int y, int left, int right) {
    int& l = c.left[y];
    int& r = c.right[y];
    if (l <= left && right <= r) return;
    if (l == r) {
        WidenSpan<Lanes, Ops>(t, c, y, left, right);
        l = left;
        r = right;
        return;
    }
    if (left < l) {
        WidenSpan<Lanes, Ops>(t, c, y, left, l);
        l = left;
    }
    if (right > r) {
        WidenSpan<Lanes, Ops>(t, c, y, r, right);
        r = right;
    }
}

// The part the draws reach is made widened first, all at once: each row's
// check is then made once a call rather than once a draw, and the widened
// part of a row is a span from its leftmost reach to its rightmost anyway.
template <int Lanes, class Ops>
inline __attribute__((always_inline)) void AddToCanvas(const AddTarget& target, AddCanvas& canvas,
                                                      const AddDraw* draws, size_t count) {
    const AddTarget t = target;
    int xmin = INT_MAX, xmax = INT_MIN, ymin = INT_MAX, ymax = INT_MIN;
    for (size_t k = 0; k < count; ++k) {
        const AddDraw& d = draws[k];
        if (!LightsBand(d, t)) continue;
        const AddSource& s = *d.source;
        int left, right;
        Vectors<Lanes>(d.x, s, 0, canvas.columns, left, right);
        xmin = std::min(xmin, left);
        xmax = std::max(xmax, right);
        ymin = std::min(ymin, std::max(d.top, t.top));
        ymax = std::max(ymax, std::min(d.bottom, t.bottom));
    }
    if (xmin >= xmax) return;
    // Most often every row is widened far enough already: checked without
    // a branch a row, which the compiler does a vector of rows at a time.
    bool covered = true;
    for (int y = ymin; y < ymax; ++y) covered &= (canvas.left[y] <= xmin) & (canvas.right[y] >= xmax);
    if (!covered)
        for (int y = ymin; y < ymax; ++y) Reach<Lanes, Ops>(t, canvas, y, xmin, xmax);

    const ptrdiff_t columns = canvas.columns;
    const ptrdiff_t hiPlane = t.redHigh ? 0 : 2, loPlane = 2 - hiPlane;
    for (size_t k = 0; k < count; ++k) {
        const AddDraw draw = draws[k];
        const int top = std::max(draw.top, t.top), bottom = std::min(draw.bottom, t.bottom);
        if (top >= bottom) continue;
        const AddSource s = *draw.source;
        if (!LightsColumns(draw, s, t.width)) continue;
        int left, right;
        Vectors<Lanes>(draw.x, s, 0, canvas.columns, left, right);
        AddRows<Lanes, Ops>(draw, s, CanvasRow(canvas, top), columns, top, bottom, left, right, hiPlane, loPlane);
    }
}

template <int Lanes, class Ops>
inline __attribute__((always_inline)) void SettleCanvas(const AddTarget& t, AddCanvas& c) {
    for (int y = t.top; y < t.bottom; ++y) {
        int& l = c.left[y];
        int& r = c.right[y];
        if (l >= r) continue;
        uint16_t* out = reinterpret_cast<uint16_t*>(t.pixels + static_cast<ptrdiff_t>(y) * t.pitch) + l;
        const uint8_t* hi = CanvasRow(c, y) + l;
        NarrowRow<Lanes, Ops>(out, hi, hi + c.columns, hi + 2 * c.columns, std::min(r, t.width) - l);
        l = r = 0;
    }
}

using Work = AddWork;
using Canvas = AddCanvas;

// The entry points of one build, each compiled for its own instructions.
#define RINGSCROLLER_ADD_KERNEL(Name, Lanes, Ops, Target)                                                       \
    Target void Name(const AddTarget& t, const AddDraw* d, size_t n, Work& w) { AddDraws<Lanes, Ops>(t, d, n, w); } \
    Target void Name##To(const AddTarget& t, Canvas& c, const AddDraw* d, size_t n) {                              \
        AddToCanvas<Lanes, Ops>(t, c, d, n);                                                                     \
    }                                                                                                            \
    Target void Name##Settle(const AddTarget& t, Canvas& c) { SettleCanvas<Lanes, Ops>(t, c); }

#if !defined(__wasm_simd128__)
RINGSCROLLER_ADD_KERNEL(AddVector16, 16, Portable, )
RINGSCROLLER_ADD_KERNEL(AddVector32, 32, Portable, )
RINGSCROLLER_ADD_KERNEL(AddVector64, 64, Portable, )
#endif
RINGSCROLLER_ADD_KERNEL(AddWords16, 16, Words, )
RINGSCROLLER_ADD_KERNEL(AddWords32, 32, Words, )
RINGSCROLLER_ADD_KERNEL(AddWords64, 64, Words, )

bool Always() { return true; }

#if defined(__x86_64__) || defined(__i386__)
bool HasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
bool HasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
}
bool HasAvx2Gfni() {
    __builtin_cpu_init();
    return HasAvx2() && __builtin_cpu_supports("gfni");
}
bool HasAvx512Gfni() {
    __builtin_cpu_init();
    return HasAvx512() && __builtin_cpu_supports("gfni");
}
RINGSCROLLER_ADD_KERNEL(AddAvx2, 32, Avx2, __attribute__((target("avx2"))))
RINGSCROLLER_ADD_KERNEL(AddAvx512, 64, Avx512, __attribute__((target("avx512f,avx512bw"))))
RINGSCROLLER_ADD_KERNEL(AddAvx2Gfni, 32, Avx2Gfni, __attribute__((target("gfni,avx2"))))
RINGSCROLLER_ADD_KERNEL(AddAvx512Gfni, 64, Avx512Gfni, __attribute__((target("gfni,avx512f,avx512bw"))))
#endif

#define RINGSCROLLER_ENTRIES(Name) Name, Name##To, Name##Settle

// The portable 32 and 64 lanes are there so that every width is tried on
// any CPU; 16 lanes (128 bits) is what a CPU without wider vectors runs.
// In the browser the word-shift builds are faster at every width (by a
// sixth on the demo's frame), so the byte-shift ones are left out there.
const AddKernel kKernels[] = {
#if !defined(__wasm_simd128__)
    {"vector-16", 16, Always, RINGSCROLLER_ENTRIES(AddVector16)},
    {"vector-32", 32, Always, RINGSCROLLER_ENTRIES(AddVector32)},
    {"vector-64", 64, Always, RINGSCROLLER_ENTRIES(AddVector64)},
#endif
    {"words-16", 16, Always, RINGSCROLLER_ENTRIES(AddWords16)},
    {"words-32", 32, Always, RINGSCROLLER_ENTRIES(AddWords32)},
    {"words-64", 64, Always, RINGSCROLLER_ENTRIES(AddWords64)},
#if defined(__x86_64__) || defined(__i386__)
    {"avx2-32", 32, HasAvx2, RINGSCROLLER_ENTRIES(AddAvx2)},
    {"avx2-gfni-32", 32, HasAvx2Gfni, RINGSCROLLER_ENTRIES(AddAvx2Gfni)},
    {"avx512-64", 64, HasAvx512, RINGSCROLLER_ENTRIES(AddAvx512)},
    {"avx512-gfni-64", 64, HasAvx512Gfni, RINGSCROLLER_ENTRIES(AddAvx512Gfni)},
#endif
};
#undef RINGSCROLLER_ENTRIES
#undef RINGSCROLLER_ADD_KERNEL

// ---------------------------------------------------------------------------
// Calibration

// The scene every build is timed on: an eighth of a ring like the demo's
// (a spoke of particles 3 pixels apart every degree, about a quarter of
// them lit, each a 22 x 22 sprite with a lit disc 14 pixels across) on a
// 5-6-5 target of its own, small enough to stay in the cache as a band does.
struct CalibrationScene {
    static constexpr int kWidth = 176, kHeight = 128, kSize = 22;
    std::vector<uint8_t> planes;
    AddSource source;
    std::vector<uint16_t> pixels;
    std::vector<AddDraw> draws;
    AddTarget target;

    CalibrationScene() : pixels(static_cast<size_t>(kWidth) * kHeight, 0) {
        source.width = source.height = kSize;
        source.stride = kAddPadding + kSize + kAddPadding;
        planes.assign(static_cast<size_t>(source.stride) * (3 * kSize + 1), 0);
        source.red = planes.data() + kAddPadding;
        source.litLeft = source.litTop = kSize;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                const int r2 = (2 * x - 21) * (2 * x - 21) + (2 * y - 21) * (2 * y - 21);  // (2 * distance)^2
                if (r2 >= 14 * 14) continue;
                const uint8_t level = static_cast<uint8_t>(49 - r2 / 4);
                for (int plane = 0; plane < 3; ++plane)
                    planes[static_cast<size_t>(3 * y + plane) * source.stride + kAddPadding + x] = level;
                source.litLeft = std::min(source.litLeft, x);
                source.litRight = std::max(source.litRight, x + 1);
                source.litTop = std::min(source.litTop, y);
                source.litBottom = y + 1;
            }
        unsigned lit = 12345;
        for (int angle = 0; angle <= 45; ++angle)
            for (int j = 0; j < 24; ++j) {
                lit = lit * 1103515245u + 12345u;
                if ((lit >> 16) % 4 != 0) continue;
                const double t = angle * 3.14159265358979 / 180, r = 60 + 3 * j;
                const int x = static_cast<int>(r * std::cos(t)), y = 100 - static_cast<int>(r * std::sin(t));
                draws.push_back(AddDraw{&source, x, y, y + source.litTop, y + source.litBottom});
            }
        target = AddTarget{reinterpret_cast<BYTE*>(pixels.data()), static_cast<LONG>(kWidth * sizeof(uint16_t)), kWidth,
                           0, kHeight, true};
    }
};

}  // namespace

const AddKernel* AddKernels(size_t& count) {
    count = sizeof kKernels / sizeof kKernels[0];
    return kKernels;
}

const AddKernel& CalibrateAddKernels(std::vector<AddKernelTime>& times) {
    using Clock = std::chrono::steady_clock;
    // At least the warm-up round and two timed ones; more while the budget lasts.
    constexpr int kMinRounds = 3, kMaxRounds = 12;
    constexpr auto kBudget = std::chrono::microseconds(2500);
    times.clear();
    for (const AddKernel& k : kKernels) {
        if (!k.runs()) continue;
        // A portable build is the same code as a build of its width for
        // this CPU's own extensions, with fewer instructions to choose from.
        bool native = false;
        for (const AddKernel& other : kKernels) native |= other.runs != Always && other.lanes == k.lanes && other.runs();
        if (k.runs == Always && native) continue;
        times.push_back(AddKernelTime{&k, 0.0});
    }
    CalibrationScene scene;
    AddWork work;
    const Clock::time_point start = Clock::now();
    for (int round = 0; round < kMaxRounds; ++round) {
        // Back and forth, so that no build always follows the same one.
        for (size_t i = 0; i < times.size(); ++i) {
            AddKernelTime& k = times[round % 2 ? times.size() - 1 - i : i];
            const Clock::time_point before = Clock::now();
            k.kernel->add(scene.target, scene.draws.data(), scene.draws.size(), work);
            const double took = std::chrono::duration<double, std::micro>(Clock::now() - before).count();
            // Round 0 only warms up: first touches of the memory, cold caches.
            if (round == 1 || (round > 1 && took < k.microseconds)) k.microseconds = took;
        }
        if (round + 1 >= kMinRounds && Clock::now() - start > kBudget) break;
    }
    const AddKernelTime* best = &times.front();
    for (const AddKernelTime& k : times)
        if (k.microseconds < best->microseconds) best = &k;
    return *best->kernel;
}

const AddKernel& FastestAddKernel() {
    static const AddKernel* fastest = [] {
        std::vector<AddKernelTime> times;
        const auto start = std::chrono::steady_clock::now();
        const AddKernel* chosen = &CalibrateAddKernels(times);
        if (TraceOn()) {
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            std::string list;
            for (const AddKernelTime& k : times) {
                char item[64];
                std::snprintf(item, sizeof item, "%s%s %.1f", list.empty() ? "" : ", ", k.kernel->name, k.microseconds);
                list += item;
            }
            std::fprintf(stderr, "ringscroller: additive kernel %s (calibrated in %.1f ms, best us for the same draws: %s)\n",
                         chosen->name, ms, list.c_str());
        }
        return chosen;
    }();
    return *fastest;
}

void FitAddCanvas(AddCanvas& canvas, int width, int height) {
    if (canvas.width == width && canvas.height == height) return;
    canvas.width = width;
    canvas.height = height;
    canvas.columns = (width + 63) & ~63;
    canvas.memory.assign(static_cast<size_t>(3) * canvas.columns * height + 64, 0);
    canvas.first = canvas.memory.data() + ((64 - reinterpret_cast<uintptr_t>(canvas.memory.data()) % 64) % 64);
    canvas.left.assign(height, 0);
    canvas.right.assign(height, 0);
}

void ForgetAddCanvas(AddCanvas& canvas) {
    std::fill(canvas.left.begin(), canvas.left.end(), 0);
    std::fill(canvas.right.begin(), canvas.right.end(), 0);
}

}  // namespace standin
