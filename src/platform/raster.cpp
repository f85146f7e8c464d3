// The stand-in's software rasteriser: an exact general path, and a
// rectangle path for what the sprites draw (screen-aligned quads with integer
// corners and the whole texture mapped once), with a vectorised kernel for
// additive blending onto 16-bit targets. Every path shares the per-pixel
// arithmetic below, so switching the fast paths off changes speed only.
#include "platform/raster.h"

#include "platform/standin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace standin {

namespace {

bool fastPaths = true;
unsigned long fastDraws = 0;

// ---------------------------------------------------------------------------
// Pixel formats and 8-bit colour arithmetic

struct Rgba {
    int r, g, b, a;
};

// a * b / 255, rounded to nearest, for a and b in 0..255.
inline int Mul8(int a, int b) {
    int t = a * b + 128;
    return (t + (t >> 8)) >> 8;
}

struct Field {
    int shift = 0;
    int bits = 0;
    DWORD mask = 0;
};

Field FieldOf(DWORD mask) {
    Field f;
    f.mask = mask;
    if (!mask) return f;
    while (!((mask >> f.shift) & 1u)) ++f.shift;
    for (DWORD m = mask; m; m &= m - 1) ++f.bits;
    return f;
}

struct Format {
    int bytes = 0;
    bool grey = false;  // 8 bits: no palette is ever set, indices read as grey
    Field field[3];     // red, green, blue
    DWORD rawMask = 0;  // the bits a pixel of this size can hold
};

Format MakeFormat(const PixelLayout& layout) {
    Format f;
    f.bytes = std::max(1, std::min(4, layout.BytesPerPixel()));
    f.grey = layout.bitsPerPixel == 8;
    f.field[0] = FieldOf(layout.redMask);
    f.field[1] = FieldOf(layout.greenMask);
    f.field[2] = FieldOf(layout.blueMask);
    f.rawMask = f.bytes >= 4 ? 0xFFFFFFFFu : ((1u << (8 * f.bytes)) - 1);
    return f;
}

// Every draw asks for its target's and texture's formats: the last few
// layouts are remembered rather than their masks taken apart each time.
const Format& FormatOf(const PixelLayout& layout) {
    struct Known {
        PixelLayout layout;
        Format format;
    };
    static Known known[4];
    static int used = 0, next = 0;
    for (int i = 0; i < used; ++i) {
        const PixelLayout& k = known[i].layout;
        if (k.bitsPerPixel == layout.bitsPerPixel && k.redMask == layout.redMask && k.greenMask == layout.greenMask &&
            k.blueMask == layout.blueMask)
            return known[i].format;
    }
    Known& slot = known[next];
    next = (next + 1) % 4;
    if (used < 4) ++used;
    slot.layout = layout;
    slot.format = MakeFormat(layout);
    return slot.format;
}

// A field widened to 8 bits by replicating its top bits into the low ones.
inline int Widen(const Field& f, DWORD pixel) {
    if (f.bits == 0) return 0;
    DWORD v = (pixel & f.mask) >> f.shift;
    if (f.bits >= 8) return static_cast<int>(v >> (f.bits - 8));
    unsigned out = v << (8 - f.bits);
    for (int filled = f.bits; filled < 8; filled += f.bits) out |= out >> f.bits;
    return static_cast<int>(out & 0xFF);
}

// An 8-bit value narrowed into a field by truncation.
inline DWORD Narrow(const Field& f, int value8) {
    if (f.bits == 0) return 0;
    DWORD v = f.bits >= 8 ? static_cast<DWORD>(value8) << (f.bits - 8) : static_cast<DWORD>(value8) >> (8 - f.bits);
    return (v << f.shift) & f.mask;
}

inline Rgba Unpack(const Format& f, DWORD pixel) {
    if (f.grey) {
        int i = static_cast<int>(pixel & 0xFF);
        return Rgba{i, i, i, 255};
    }
    // No layout the stand-in makes has an alpha channel: alpha reads as 1.0.
    return Rgba{Widen(f.field[0], pixel), Widen(f.field[1], pixel), Widen(f.field[2], pixel), 255};
}

inline DWORD Pack(const Format& f, int r, int g, int b) {
    if (f.grey) return static_cast<DWORD>((r * 77 + g * 150 + b * 29) >> 8);
    return Narrow(f.field[0], r) | Narrow(f.field[1], g) | Narrow(f.field[2], b);
}

inline DWORD ReadPixel(const BYTE* p, int bytes) {
    switch (bytes) {
        case 1: return p[0];
        case 2: return p[0] | (p[1] << 8);
        case 3: return p[0] | (p[1] << 8) | (p[2] << 16);
        default: return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
    }
}

inline void WritePixel(BYTE* p, int bytes, DWORD value) {
    switch (bytes) {
        case 4: p[3] = static_cast<BYTE>(value >> 24); [[fallthrough]];
        case 3: p[2] = static_cast<BYTE>(value >> 16); [[fallthrough]];
        case 2: p[1] = static_cast<BYTE>(value >> 8); [[fallthrough]];
        default: p[0] = static_cast<BYTE>(value);
    }
}

inline Rgba ColorOf(D3DCOLOR c) {
    return Rgba{static_cast<int>((c >> 16) & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>(c & 0xFF),
                static_cast<int>(c >> 24)};
}

// ---------------------------------------------------------------------------
// Texture stage 0 and the blender

// At stage 0 CURRENT is the diffuse colour; modifier bits are not supported.
inline const Rgba& Argument(DWORD arg, const Rgba& texel, const Rgba& diffuse) {
    return (arg & 0xF) == D3DTA_TEXTURE ? texel : diffuse;
}

inline int Operate(DWORD op, int arg1, int arg2, int diffuse) {
    switch (op) {
        case D3DTOP_SELECTARG1: return arg1;
        case D3DTOP_SELECTARG2: return arg2;
        case D3DTOP_MODULATE: return Mul8(arg1, arg2);
        default: return diffuse;  // DISABLE at stage 0 passes the diffuse colour on
    }
}

inline Rgba Combine(const RasterState& st, const Rgba& texel, const Rgba& diffuse) {
    const Rgba& c1 = Argument(st.colorArg1, texel, diffuse);
    const Rgba& c2 = Argument(st.colorArg2, texel, diffuse);
    const Rgba& a1 = Argument(st.alphaArg1, texel, diffuse);
    const Rgba& a2 = Argument(st.alphaArg2, texel, diffuse);
    return Rgba{Operate(st.colorOp, c1.r, c2.r, diffuse.r), Operate(st.colorOp, c1.g, c2.g, diffuse.g),
                Operate(st.colorOp, c1.b, c2.b, diffuse.b), Operate(st.alphaOp, a1.a, a2.a, diffuse.a)};
}

inline int Factor(DWORD blend, bool source, int sc, int dc, int sa, int da) {
    switch (blend) {
        case D3DBLEND_ZERO: return 0;
        case D3DBLEND_ONE: return 255;
        case D3DBLEND_SRCCOLOR: return sc;
        case D3DBLEND_INVSRCCOLOR: return 255 - sc;
        case D3DBLEND_SRCALPHA: return sa;
        case D3DBLEND_INVSRCALPHA: return 255 - sa;
        case D3DBLEND_DESTALPHA: return da;
        case D3DBLEND_INVDESTALPHA: return 255 - da;
        case D3DBLEND_DESTCOLOR: return dc;
        case D3DBLEND_INVDESTCOLOR: return 255 - dc;
        case D3DBLEND_SRCALPHASAT: return std::min(sa, 255 - da);
        default: return source ? 255 : 0;  // unknown factors act as the defaults ONE / ZERO
    }
}

// The value a source colour leaves in a destination pixel.
inline DWORD Shade(const Format& f, const RasterState& st, const Rgba& s, DWORD destination) {
    if (!st.alphaBlend) return Pack(f, s.r, s.g, s.b);
    Rgba d = Unpack(f, destination);
    auto channel = [&](int sc, int dc) {
        int fs = Factor(st.srcBlend, true, sc, dc, s.a, d.a);
        int fd = Factor(st.destBlend, false, sc, dc, s.a, d.a);
        return std::min(255, Mul8(sc, fs) + Mul8(dc, fd));
    };
    return Pack(f, channel(s.r, d.r), channel(s.g, d.g), channel(s.b, d.b));
}

// ---------------------------------------------------------------------------
// Texture access

struct TextureView {
    const Surface* surface = nullptr;  // null: reads as opaque white
    Format format;
    bool keyed = false;  // colour keying on and the texture has a key
    DWORD key = 0;
};

TextureView ViewOf(const Surface* texture, const RasterState& st) {
    TextureView t;
    if (!texture || texture->width <= 0 || texture->height <= 0 || texture->pixels.empty()) return t;
    t.surface = texture;
    t.format = FormatOf(texture->layout);
    t.keyed = st.colorKey && texture->hasColorKey;
    t.key = texture->colorKeyLow & t.format.rawMask;
    return t;
}

// Point sampling: texel floor(u * size), wrapped. The product is snapped to
// 1/65536 first so that rounding noise in the interpolation cannot move a
// sample that lies exactly on a texel boundary.
inline int TexelIndex(double u, int size) {
    double t = u * size;
    if (!(t > -1e9 && t < 1e9)) t = 0;  // NaN and absurd coordinates sample texel 0
    long long fixed = std::llround(t * 65536.0);
    long long index = fixed >= 0 ? fixed >> 16 : -((-fixed + 65535) >> 16);
    long long wrapped = index % size;
    return static_cast<int>(wrapped < 0 ? wrapped + size : wrapped);
}

// The source colour for texel (tx, ty); false when the colour key removes it.
inline bool Sample(const TextureView& t, const RasterState& st, int tx, int ty, const Rgba& diffuse, Rgba& out) {
    Rgba texel{255, 255, 255, 255};
    if (t.surface) {
        DWORD raw = ReadPixel(t.surface->Row(ty) + static_cast<size_t>(tx) * t.format.bytes, t.format.bytes);
        if (t.keyed && raw == t.key) return false;
        texel = Unpack(t.format, raw);
    }
    out = Combine(st, texel, diffuse);
    return true;
}

// ---------------------------------------------------------------------------
// General path: triangles with edge functions on a 1/256-pixel grid

constexpr int kSubBits = 8;
constexpr int64_t kOne = int64_t(1) << kSubBits;
constexpr float kMaxCoordinate = 32768.0f;  // keeps every product inside 64 bits

struct Point {
    int64_t x, y;
    const D3DTLVERTEX* v;
};

bool Snap(const D3DTLVERTEX& v, Point& p) {
    if (!(std::fabs(v.sx) <= kMaxCoordinate && std::fabs(v.sy) <= kMaxCoordinate)) return false;
    p.x = std::llround(static_cast<double>(v.sx) * kOne);
    p.y = std::llround(static_cast<double>(v.sy) * kOne);
    p.v = &v;
    return true;
}

struct Edge {
    int64_t x0, y0, dx, dy;
    bool inclusive;  // top and left edges own the pixel centres lying on them
    Edge(const Point& from, const Point& to)
        : x0(from.x), y0(from.y), dx(to.x - from.x), dy(to.y - from.y), inclusive(dy < 0 || (dy == 0 && dx > 0)) {}
    int64_t At(int64_t px, int64_t py) const { return dx * (py - y0) - dy * (px - x0); }
    bool Inside(int64_t e) const { return e > 0 || (e == 0 && inclusive); }
};

inline int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
inline int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

struct DrawContext {
    Surface& target;
    Format format;
    TextureView texture;
    const RasterState& state;
};

inline int Interpolate(const int64_t w[3], int64_t area, int c0, int c1, int c2) {
    int64_t num = w[0] * c0 + w[1] * c1 + w[2] * c2;
    return static_cast<int>((2 * num + area) / (2 * area));
}

void ShadePixel(DrawContext& dc, int x, int y, const int64_t w[3], int64_t area, const D3DTLVERTEX* const v[3]) {
    Rgba c[3];
    for (int i = 0; i < 3; ++i) c[i] = ColorOf(v[i]->color);
    Rgba diffuse{Interpolate(w, area, c[0].r, c[1].r, c[2].r), Interpolate(w, area, c[0].g, c[1].g, c[2].g),
                 Interpolate(w, area, c[0].b, c[1].b, c[2].b), Interpolate(w, area, c[0].a, c[1].a, c[2].a)};
    int tx = 0, ty = 0;
    if (dc.texture.surface) {
        double a = static_cast<double>(area);
        double u = (w[0] * static_cast<double>(v[0]->tu) + w[1] * static_cast<double>(v[1]->tu) +
                    w[2] * static_cast<double>(v[2]->tu)) / a;
        double t = (w[0] * static_cast<double>(v[0]->tv) + w[1] * static_cast<double>(v[1]->tv) +
                    w[2] * static_cast<double>(v[2]->tv)) / a;
        tx = TexelIndex(u, dc.texture.surface->width);
        ty = TexelIndex(t, dc.texture.surface->height);
    }
    Rgba source;
    if (!Sample(dc.texture, dc.state, tx, ty, diffuse, source)) return;
    BYTE* p = dc.target.Row(y) + static_cast<size_t>(x) * dc.format.bytes;
    WritePixel(p, dc.format.bytes, Shade(dc.format, dc.state, source, ReadPixel(p, dc.format.bytes)));
}

void DrawTriangle(DrawContext& dc, const Point& a, const Point& b, const Point& c) {
    int64_t area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    if (area <= 0) return;  // counter-clockwise (culled by default) or degenerate
    int64_t x0 = std::max<int64_t>(0, CeilDiv(std::min({a.x, b.x, c.x}), kOne));
    int64_t x1 = std::min<int64_t>(dc.target.width - 1, FloorDiv(std::max({a.x, b.x, c.x}), kOne));
    int64_t y0 = std::max<int64_t>(0, CeilDiv(std::min({a.y, b.y, c.y}), kOne));
    int64_t y1 = std::min<int64_t>(dc.target.height - 1, FloorDiv(std::max({a.y, b.y, c.y}), kOne));
    if (x0 > x1 || y0 > y1) return;
    // The weight of each vertex is the edge function of the opposite edge.
    const Edge edges[3] = {Edge(b, c), Edge(c, a), Edge(a, b)};
    const D3DTLVERTEX* const v[3] = {a.v, b.v, c.v};
    for (int64_t y = y0; y <= y1; ++y) {
        for (int64_t x = x0; x <= x1; ++x) {
            int64_t w[3];
            bool inside = true;
            for (int i = 0; i < 3 && inside; ++i) {
                w[i] = edges[i].At(x * kOne, y * kOne);
                inside = edges[i].Inside(w[i]);
            }
            if (inside) ShadePixel(dc, static_cast<int>(x), static_cast<int>(y), w, area, v);
        }
    }
}

// ---------------------------------------------------------------------------
// Rectangle path

struct Rect {
    int x0, y0, x1, y1;  // corners; covers columns x0..x1-1, rows y0..y1-1
    D3DCOLOR color;
};

bool IsWhole(float f) { return std::fabs(f) <= kMaxCoordinate && f == std::floor(f); }

// A strip the sprites draw: top-left, top-right, bottom-left, bottom-right,
// integer corners, the whole texture once, one colour.
bool AsRect(const D3DTLVERTEX* v, size_t count, Rect& r) {
    if (count != 4) return false;
    if (v[0].sx != v[2].sx || v[1].sx != v[3].sx || v[0].sy != v[1].sy || v[2].sy != v[3].sy) return false;
    if (!IsWhole(v[0].sx) || !IsWhole(v[1].sx) || !IsWhole(v[0].sy) || !IsWhole(v[2].sy)) return false;
    if (!(v[1].sx > v[0].sx && v[2].sy > v[0].sy)) return false;
    if (v[0].tu != 0.0f || v[1].tu != 1.0f || v[2].tu != 0.0f || v[3].tu != 1.0f) return false;
    if (v[0].tv != 0.0f || v[1].tv != 0.0f || v[2].tv != 1.0f || v[3].tv != 1.0f) return false;
    if (v[1].color != v[0].color || v[2].color != v[0].color || v[3].color != v[0].color) return false;
    r = Rect{static_cast<int>(v[0].sx), static_cast<int>(v[0].sy), static_cast<int>(v[1].sx), static_cast<int>(v[2].sy),
             v[0].color};
    return true;
}

// The texture stretched to one rectangle size, with the stage-0 colour
// already applied; kept while the texture's id and version are unchanged.
struct Stretch {
    unsigned textureId = 0, textureVersion = 0;
    bool keyed = false;
    DWORD key = 0;
    int width = 0, height = 0;
    D3DCOLOR color = 0;
    DWORD ops[6] = {};
    unsigned long lastUse = 0;
    std::vector<Rgba> source;
    std::vector<BYTE> dropped;  // 1 where the colour key removes the texel
    // Additive kernel input: red, green, blue planes of `stride` values a row,
    // 0 where dropped (adding 0 leaves a pixel as it was) and past the width.
    int stride = 0;
    std::vector<uint16_t> planes;
};

constexpr size_t kStretchCacheSize = 8;
constexpr int kWidestVector = 32;
std::vector<Stretch> stretchCache;
unsigned long useClock = 0;

const Stretch& StretchFor(const TextureView& t, const RasterState& st, int width, int height, D3DCOLOR color) {
    const Surface& s = *t.surface;
    const DWORD ops[6] = {st.colorOp, st.colorArg1, st.colorArg2, st.alphaOp, st.alphaArg1, st.alphaArg2};
    ++useClock;
    for (Stretch& e : stretchCache) {
        if (e.textureId == s.id && e.textureVersion == s.version && e.keyed == t.keyed && e.key == t.key &&
            e.width == width && e.height == height && e.color == color && std::equal(ops, ops + 6, e.ops)) {
            e.lastUse = useClock;
            return e;
        }
    }
    Stretch* e;
    if (stretchCache.size() < kStretchCacheSize) {
        stretchCache.emplace_back();
        e = &stretchCache.back();
    } else {
        e = &*std::min_element(stretchCache.begin(), stretchCache.end(),
                               [](const Stretch& a, const Stretch& b) { return a.lastUse < b.lastUse; });
    }
    e->textureId = s.id;
    e->textureVersion = s.version;
    e->keyed = t.keyed;
    e->key = t.key;
    e->width = width;
    e->height = height;
    e->color = color;
    std::copy(ops, ops + 6, e->ops);
    e->lastUse = useClock;
    e->source.assign(static_cast<size_t>(width) * height, Rgba{});
    e->dropped.assign(static_cast<size_t>(width) * height, 0);
    e->stride = width + kWidestVector;
    e->planes.assign(static_cast<size_t>(e->stride) * height * 3, 0);
    Rgba diffuse = ColorOf(color);
    for (int j = 0; j < height; ++j) {
        // Pixel j samples at v = j / height: texel floor(j * texHeight / height).
        int ty = static_cast<int>(static_cast<int64_t>(j) * s.height / height);
        uint16_t* red = &e->planes[(static_cast<size_t>(j) * 3 + 0) * e->stride];
        uint16_t* green = red + e->stride;
        uint16_t* blue = green + e->stride;
        for (int i = 0; i < width; ++i) {
            int tx = static_cast<int>(static_cast<int64_t>(i) * s.width / width);
            size_t k = static_cast<size_t>(j) * width + i;
            Rgba c;
            if (!Sample(t, st, tx, ty, diffuse, c)) {
                e->dropped[k] = 1;
                continue;
            }
            e->source[k] = c;
            red[i] = static_cast<uint16_t>(c.r);
            green[i] = static_cast<uint16_t>(c.g);
            blue[i] = static_cast<uint16_t>(c.b);
        }
    }
    return *e;
}

// What the additive kernel needs: which source plane feeds the high, middle
// and low field of a 16-bit target, and the middle field's width.
struct AddJob {
    BYTE* row;        // first target row, at the first column drawn
    LONG pitch;
    int rows, columns;
    int room;         // pixels from the first column to the target's right edge
    const uint16_t* plane[3];  // high, middle, low field sources, first row, first column
    int planeStride;  // values from one source row to the next (3 planes a row)
};

template <int L, int MidBits>
inline __attribute__((always_inline)) void AddVector(uint16_t* dst, const uint16_t* hi, const uint16_t* mid,
                                                    const uint16_t* lo) {
    typedef uint16_t V __attribute__((vector_size(2 * L)));
    constexpr int kMidMax = (1 << MidBits) - 1;
    constexpr int kHiShift = 5 + MidBits;
    V d, sh, sm, sl;
    std::memcpy(&d, dst, sizeof d);
    std::memcpy(&sh, hi, sizeof sh);
    std::memcpy(&sm, mid, sizeof sm);
    std::memcpy(&sl, lo, sizeof sl);
    // min(255, s + widen(field)) narrowed again equals
    // min(fieldMax, field + ((s + replicated low bits) >> (8 - bits))).
    V h = (d >> kHiShift) & 31;
    V m = (d >> 5) & kMidMax;
    V l = d & 31;
    h = h + ((sh + (h >> 2)) >> 3);
    m = m + ((sm + (m >> (2 * MidBits - 8))) >> (8 - MidBits));
    l = l + ((sl + (l >> 2)) >> 3);
    h = h > 31 ? V{} + 31 : h;
    m = m > kMidMax ? V{} + kMidMax : m;
    l = l > 31 ? V{} + 31 : l;
    V out = (h << kHiShift) | (m << 5) | l;
    std::memcpy(dst, &out, sizeof out);
}

template <int MidBits>
inline int AddScalar(int d, int sh, int sm, int sl) {
    constexpr int kMidMax = (1 << MidBits) - 1;
    constexpr int kHiShift = 5 + MidBits;
    int h = (d >> kHiShift) & 31, m = (d >> 5) & kMidMax, l = d & 31;
    h = std::min(31, h + ((sh + (h >> 2)) >> 3));
    m = std::min(kMidMax, m + ((sm + (m >> (2 * MidBits - 8))) >> (8 - MidBits)));
    l = std::min(31, l + ((sl + (l >> 2)) >> 3));
    return (h << kHiShift) | (m << 5) | l;
}

// Vectors may run past the rectangle's right edge while they stay inside
// the target row: the source there is 0 and the pixels keep their value.
template <int L, int MidBits>
inline __attribute__((always_inline)) void AddRows(const AddJob& job) {
    for (int y = 0; y < job.rows; ++y) {
        uint16_t* dst = reinterpret_cast<uint16_t*>(job.row + static_cast<size_t>(y) * job.pitch);
        size_t off = static_cast<size_t>(y) * job.planeStride;
        const uint16_t* hi = job.plane[0] + off;
        const uint16_t* mid = job.plane[1] + off;
        const uint16_t* lo = job.plane[2] + off;
        int i = 0;
        if (L > 8)
            for (; i < job.columns && i + L <= job.room; i += L) AddVector<L, MidBits>(dst + i, hi + i, mid + i, lo + i);
        for (; i < job.columns && i + 8 <= job.room; i += 8) AddVector<8, MidBits>(dst + i, hi + i, mid + i, lo + i);
        for (; i < job.columns; ++i) {
            uint16_t d;
            std::memcpy(&d, dst + i, 2);
            d = static_cast<uint16_t>(AddScalar<MidBits>(d, hi[i], mid[i], lo[i]));
            std::memcpy(dst + i, &d, 2);
        }
    }
}

template <int MidBits>
void AddRowsBase(const AddJob& job) { AddRows<8, MidBits>(job); }

#if defined(__x86_64__) || defined(__i386__)
template <int MidBits>
__attribute__((target("avx2"))) void AddRowsAvx2(const AddJob& job) { AddRows<16, MidBits>(job); }
template <int MidBits>
__attribute__((target("avx512f,avx512bw,avx512vl"))) void AddRowsAvx512(const AddJob& job) {
    AddRows<32, MidBits>(job);
}
#endif

using AddKernel = void (*)(const AddJob&);

AddKernel PickAddKernel() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl")) return AddRowsAvx512<6>;
    if (__builtin_cpu_supports("avx2")) return AddRowsAvx2<6>;
#endif
    return AddRowsBase<6>;
}

// The additive kernel's case: a 16-bit target of 5-6-5 fields (red high or
// low), blending source * 1 + destination * 1 with saturation.
bool AdditiveTarget(const Format& f, const RasterState& st, int& hiChannel) {
    if (f.bytes != 2 || f.grey || !st.alphaBlend || st.srcBlend != D3DBLEND_ONE) return false;
    // The target has no alpha channel, so DESTALPHA is 1 as well.
    if (st.destBlend != D3DBLEND_ONE && st.destBlend != D3DBLEND_DESTALPHA) return false;
    // 5-6-5 only: a 5-5-5 pixel has a spare bit that a written pixel clears
    // but an untouched one keeps, which the kernel's padding lanes cannot tell.
    const Field& g = f.field[1];
    if (g.shift != 5 || g.bits != 6) return false;
    int hiShift = 5 + g.bits;
    const Field& r = f.field[0];
    const Field& b = f.field[2];
    if (r.bits != 5 || b.bits != 5) return false;
    if (r.shift == hiShift && b.shift == 0) hiChannel = 0;
    else if (b.shift == hiShift && r.shift == 0) hiChannel = 2;
    else return false;
    return true;
}

bool DrawRect(Surface& target, const TextureView& t, const RasterState& st, const Rect& r) {
    // Huge rectangles are left to the general path rather than cached.
    if (!t.surface || static_cast<int64_t>(r.x1 - r.x0) * (r.y1 - r.y0) > (int64_t(1) << 20)) return false;
    int cx0 = std::max(r.x0, 0), cx1 = std::min(r.x1, target.width);
    int cy0 = std::max(r.y0, 0), cy1 = std::min(r.y1, target.height);
    if (cx0 >= cx1 || cy0 >= cy1) return true;  // entirely outside: nothing to write
    int width = r.x1 - r.x0, height = r.y1 - r.y0;
    const Stretch& s = StretchFor(t, st, width, height, r.color);
    const Format f = FormatOf(target.layout);
    int hiChannel = 0;
    if (AdditiveTarget(f, st, hiChannel)) {
        static const AddKernel kernel = PickAddKernel();
        size_t first = static_cast<size_t>(cy0 - r.y0) * 3 * s.stride + (cx0 - r.x0);
        const uint16_t* red = s.planes.data() + first;
        const uint16_t* green = red + s.stride;
        const uint16_t* blue = green + s.stride;
        AddJob job{target.Row(cy0) + static_cast<size_t>(cx0) * 2, target.pitch, cy1 - cy0, cx1 - cx0,
                   target.width - cx0, {hiChannel == 0 ? red : blue, green, hiChannel == 0 ? blue : red},
                   3 * s.stride};
        kernel(job);
        return true;
    }
    for (int y = cy0; y < cy1; ++y) {
        BYTE* row = target.Row(y);
        size_t k = static_cast<size_t>(y - r.y0) * width + (cx0 - r.x0);
        for (int x = cx0; x < cx1; ++x, ++k) {
            if (s.dropped[k]) continue;
            BYTE* p = row + static_cast<size_t>(x) * f.bytes;
            WritePixel(p, f.bytes, Shade(f, st, s.source[k], ReadPixel(p, f.bytes)));
        }
    }
    return true;
}

}  // namespace

void DrawTriangleStrip(Surface& target, const Surface* texture, const RasterState& state,
                       const D3DTLVERTEX* vertices, size_t count) {
    if (!vertices || count < 3 || target.width <= 0 || target.height <= 0 || target.pixels.empty()) return;
    target.Touch();
    TextureView t = ViewOf(texture, state);
    Rect rect;
    if (fastPaths && AsRect(vertices, count, rect) && DrawRect(target, t, state, rect)) {
        ++fastDraws;
        return;
    }
    DrawContext dc{target, FormatOf(target.layout), t, state};
    for (size_t k = 0; k + 2 < count; ++k) {
        // Odd triangles of a strip are turned round so that all keep the
        // winding of the first.
        size_t i0 = (k & 1) ? k + 1 : k, i1 = (k & 1) ? k : k + 1, i2 = k + 2;
        Point a, b, c;
        if (!Snap(vertices[i0], a) || !Snap(vertices[i1], b) || !Snap(vertices[i2], c)) continue;
        DrawTriangle(dc, a, b, c);
    }
}

void SetRasterFastPaths(bool on) { fastPaths = on; }
bool RasterFastPaths() { return fastPaths; }
unsigned long RasterFastDraws() { return fastDraws; }

void ResetRaster() {
    fastPaths = true;
    fastDraws = 0;
    stretchCache.clear();
    useClock = 0;
}

}  // namespace standin
