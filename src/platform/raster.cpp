// The stand-in's software rasteriser: an exact general path, and a
// rectangle path for what the sprites draw (screen-aligned quads with integer
// corners and the whole texture mapped once), with a vectorised kernel for
// additive blending onto 16-bit targets. Every path shares the per-pixel
// arithmetic below, so switching the fast paths off changes speed only.
#include "platform/raster.h"

#include "platform/standin.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <cmath>
#include <cstdint>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace standin {

namespace {

bool fastPaths = true;
unsigned long fastDraws = 0;
RasterHelp helped;

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

// What a draw other than the additive kernel's reads besides its geometry.
struct Setup {
    Format format;  // the target's
    TextureView texture;
    RasterState state;
};

// Rows top .. bottom - 1 of the target: a band, or all of it.
struct Rows {
    Surface& target;
    int top, bottom;
};

inline int Interpolate(const int64_t w[3], int64_t area, int c0, int c1, int c2) {
    int64_t num = w[0] * c0 + w[1] * c1 + w[2] * c2;
    return static_cast<int>((2 * num + area) / (2 * area));
}

void ShadePixel(Surface& target, const Setup& su, int x, int y, const int64_t w[3], int64_t area,
                const D3DTLVERTEX* const v[3]) {
    Rgba c[3];
    for (int i = 0; i < 3; ++i) c[i] = ColorOf(v[i]->color);
    Rgba diffuse{Interpolate(w, area, c[0].r, c[1].r, c[2].r), Interpolate(w, area, c[0].g, c[1].g, c[2].g),
                 Interpolate(w, area, c[0].b, c[1].b, c[2].b), Interpolate(w, area, c[0].a, c[1].a, c[2].a)};
    int tx = 0, ty = 0;
    if (su.texture.surface) {
        double a = static_cast<double>(area);
        double u = (w[0] * static_cast<double>(v[0]->tu) + w[1] * static_cast<double>(v[1]->tu) +
                    w[2] * static_cast<double>(v[2]->tu)) / a;
        double t = (w[0] * static_cast<double>(v[0]->tv) + w[1] * static_cast<double>(v[1]->tv) +
                    w[2] * static_cast<double>(v[2]->tv)) / a;
        tx = TexelIndex(u, su.texture.surface->width);
        ty = TexelIndex(t, su.texture.surface->height);
    }
    Rgba source;
    if (!Sample(su.texture, su.state, tx, ty, diffuse, source)) return;
    BYTE* p = target.Row(y) + static_cast<size_t>(x) * su.format.bytes;
    WritePixel(p, su.format.bytes, Shade(su.format, su.state, source, ReadPixel(p, su.format.bytes)));
}

void DrawTriangle(const Rows& rows, const Setup& su, const Point& a, const Point& b, const Point& c) {
    int64_t area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    if (area <= 0) return;  // counter-clockwise (culled by default) or degenerate
    int64_t x0 = std::max<int64_t>(0, CeilDiv(std::min({a.x, b.x, c.x}), kOne));
    int64_t x1 = std::min<int64_t>(rows.target.width - 1, FloorDiv(std::max({a.x, b.x, c.x}), kOne));
    int64_t y0 = std::max<int64_t>(rows.top, CeilDiv(std::min({a.y, b.y, c.y}), kOne));
    int64_t y1 = std::min<int64_t>(rows.bottom - 1, FloorDiv(std::max({a.y, b.y, c.y}), kOne));
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
            if (inside) ShadePixel(rows.target, su, static_cast<int>(x), static_cast<int>(y), w, area, v);
        }
    }
}

void DrawStrip(const Rows& rows, const Setup& su, const D3DTLVERTEX* vertices, size_t count) {
    for (size_t k = 0; k + 2 < count; ++k) {
        // Odd triangles of a strip are turned round so that all keep the
        // winding of the first.
        size_t i0 = (k & 1) ? k + 1 : k, i1 = (k & 1) ? k : k + 1, i2 = k + 2;
        Point a, b, c;
        if (!Snap(vertices[i0], a) || !Snap(vertices[i1], b) || !Snap(vertices[i2], c)) continue;
        DrawTriangle(rows, su, a, b, c);
    }
}

// The rows a strip can reach, inside the target.
void RowsOf(const Surface& target, const D3DTLVERTEX* v, size_t count, int& top, int& bottom) {
    float lo = v[0].sy, hi = v[0].sy;
    for (size_t i = 1; i < count; ++i) {
        lo = std::min(lo, v[i].sy);
        hi = std::max(hi, v[i].sy);
    }
    // Vertices beyond the snapping range are skipped when drawn: any row may do.
    if (!(lo >= -kMaxCoordinate && hi <= kMaxCoordinate)) lo = 0, hi = static_cast<float>(target.height);
    top = static_cast<int>(std::max(0.0f, std::floor(lo)));
    bottom = static_cast<int>(std::min(static_cast<float>(target.height), std::floor(hi) + 1.0f));
}

// ---------------------------------------------------------------------------
// Rectangle path

struct Rect {
    int x0, y0, x1, y1;  // corners; covers columns x0..x1-1, rows y0..y1-1
    D3DCOLOR color;
};

// Without floor(): every sprite is asked this four times, and baseline
// x86-64 has no instruction for floor.
bool IsWhole(float f) { return std::fabs(f) <= kMaxCoordinate && f == static_cast<float>(static_cast<int32_t>(f)); }

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
// already applied. Never changed once made: draws waiting for a flush keep
// the ones they use.
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
    // The additive kernel's input: red, green, blue planes a row, 0 where
    // dropped (adding 0 leaves a pixel as it was) and in the padding.
    std::vector<uint8_t> planes;
    AddSource add;
};

constexpr size_t kStretchCacheSize = 8;
std::vector<std::shared_ptr<Stretch>> stretchCache;
unsigned long useClock = 0;

std::shared_ptr<Stretch> MakeStretch(const TextureView& t, const RasterState& st, int width, int height,
                                     D3DCOLOR color, const DWORD ops[6]) {
    const Surface& s = *t.surface;
    auto e = std::make_shared<Stretch>();
    e->textureId = s.id;
    e->textureVersion = s.version;
    e->keyed = t.keyed;
    e->key = t.key;
    e->width = width;
    e->height = height;
    e->color = color;
    std::copy(ops, ops + 6, e->ops);
    e->source.assign(static_cast<size_t>(width) * height, Rgba{});
    e->dropped.assign(static_cast<size_t>(width) * height, 0);
    const int stride = kAddPadding + width + kAddPadding;
    e->planes.assign(static_cast<size_t>(stride) * (3 * height + 1), 0);
    Rgba diffuse = ColorOf(color);
    AddSource& lit = e->add;
    lit.litLeft = width;
    lit.litTop = height;
    for (int j = 0; j < height; ++j) {
        // Pixel j samples at v = j / height: texel floor(j * texHeight / height).
        int ty = static_cast<int>(static_cast<int64_t>(j) * s.height / height);
        uint8_t* red = &e->planes[(static_cast<size_t>(j) * 3) * stride + kAddPadding];
        uint8_t* green = red + stride;
        uint8_t* blue = green + stride;
        for (int i = 0; i < width; ++i) {
            int tx = static_cast<int>(static_cast<int64_t>(i) * s.width / width);
            size_t k = static_cast<size_t>(j) * width + i;
            Rgba c;
            if (!Sample(t, st, tx, ty, diffuse, c)) {
                e->dropped[k] = 1;
                continue;
            }
            e->source[k] = c;
            red[i] = static_cast<uint8_t>(c.r);
            green[i] = static_cast<uint8_t>(c.g);
            blue[i] = static_cast<uint8_t>(c.b);
            if (c.r | c.g | c.b) {
                lit.litLeft = std::min(lit.litLeft, i);
                lit.litRight = std::max(lit.litRight, i + 1);
                lit.litTop = std::min(lit.litTop, j);
                lit.litBottom = j + 1;
            }
        }
    }
    if (lit.litRight == 0) lit.litLeft = lit.litTop = 0;
    lit.width = width;
    lit.height = height;
    lit.stride = stride;
    lit.red = e->planes.data() + kAddPadding;
    return e;
}

std::shared_ptr<const Stretch> StretchFor(const TextureView& t, const RasterState& st, int width, int height,
                                          D3DCOLOR color) {
    const Surface& s = *t.surface;
    const DWORD ops[6] = {st.colorOp, st.colorArg1, st.colorArg2, st.alphaOp, st.alphaArg1, st.alphaArg2};
    ++useClock;
    for (const std::shared_ptr<Stretch>& e : stretchCache) {
        if (e->textureId == s.id && e->textureVersion == s.version && e->keyed == t.keyed && e->key == t.key &&
            e->width == width && e->height == height && e->color == color && std::equal(ops, ops + 6, e->ops)) {
            e->lastUse = useClock;
            return e;
        }
    }
    std::shared_ptr<Stretch> made = MakeStretch(t, st, width, height, color, ops);
    made->lastUse = useClock;
    if (stretchCache.size() < kStretchCacheSize) {
        stretchCache.push_back(made);
    } else {
        *std::min_element(stretchCache.begin(), stretchCache.end(),
                          [](const auto& a, const auto& b) { return a->lastUse < b->lastUse; }) = made;
    }
    return made;
}

// The additive kernel's case: a 16-bit target of 5-6-5 fields (red high or
// low), blending source * 1 + destination * 1 with saturation.
bool AdditiveTarget(const Format& f, const RasterState& st, bool& redHigh) {
    if (f.bytes != 2 || f.grey || !st.alphaBlend || st.srcBlend != D3DBLEND_ONE) return false;
    // The target has no alpha channel, so DESTALPHA is 1 as well.
    if (st.destBlend != D3DBLEND_ONE && st.destBlend != D3DBLEND_DESTALPHA) return false;
    // 5-6-5 only: a 5-5-5 pixel has a spare bit that a written pixel clears
    // but an untouched one keeps, and the kernel narrows every pixel of the
    // part of a band it widened.
    const Field& g = f.field[1];
    if (g.shift != 5 || g.bits != 6) return false;
    const Field& r = f.field[0];
    const Field& b = f.field[2];
    if (r.bits != 5 || b.bits != 5) return false;
    if (r.shift == 11 && b.shift == 0) redHigh = true;
    else if (b.shift == 11 && r.shift == 0) redHigh = false;
    else return false;
    return true;
}

void DrawRectRows(const Rows& rows, const Setup& su, const Stretch& s, const Rect& r) {
    const Format& f = su.format;
    int cx0 = std::max(r.x0, 0), cx1 = std::min(r.x1, rows.target.width);
    int cy0 = std::max(r.y0, rows.top), cy1 = std::min(r.y1, rows.bottom);
    for (int y = cy0; y < cy1; ++y) {
        BYTE* row = rows.target.Row(y);
        size_t k = static_cast<size_t>(y - r.y0) * s.width + (cx0 - r.x0);
        for (int x = cx0; x < cx1; ++x, ++k) {
            if (s.dropped[k]) continue;
            BYTE* p = row + static_cast<size_t>(x) * f.bytes;
            WritePixel(p, f.bytes, Shade(f, su.state, s.source[k], ReadPixel(p, f.bytes)));
        }
    }
}

// ---------------------------------------------------------------------------
// Recording and the bands

const AddKernel* forcedKernel = nullptr;

const AddKernel& Kernel() { return forcedKernel ? *forcedKernel : FastestAddKernel(); }

// How a draw is rasterised, decided when it is recorded; the next draw with
// the same state, texture, size and colour takes the same way.
struct Plan {
    enum class Way { none, add, rect, triangles } way = Way::none;
    // What the decision read.
    RasterState state;
    const Surface* texture = nullptr;
    unsigned textureId = 0, textureVersion = 0;
    bool hasKey = false;
    DWORD keyLow = 0;
    unsigned targetId = 0;  // a surface's layout never changes under one id
    int width = 0, height = 0;
    D3DCOLOR color = 0;
    // What it decided.
    std::shared_ptr<const Stretch> stretch;
    bool redHigh = false;
    uint32_t setup = 0;

    bool Fits(const Surface& target, const Surface* tex, const RasterState& st, const Rect& r) const {
        return (way == Way::add || way == Way::rect) && r.x1 - r.x0 == width && r.y1 - r.y0 == height &&
               r.color == color && Unchanged(target, tex, st);
    }
    bool Unchanged(const Surface& target, const Surface* tex, const RasterState& st) const {
        return tex == texture && tex->id == textureId && tex->version == textureVersion &&
               tex->hasColorKey == hasKey && tex->colorKeyLow == keyLow && target.id == targetId && st == state;
    }

    // AsRect and Fits at once for a strip that must be this plan's
    // rectangle at another place to pass (every sprite of the demo comes
    // through here). Texture coordinates are compared a corner at a time as
    // bit patterns: a -0.0 among them is left to AsRect.
    bool Moved(const D3DTLVERTEX* v, size_t count, Rect& r) const {
        static constexpr uint64_t kOne = 0x3F800000, kCorners[4] = {0, kOne, kOne << 32, kOne << 32 | kOne};
        if (count != 4) return false;
        for (int i = 0; i < 4; ++i) {
            uint64_t uv;
            std::memcpy(&uv, &v[i].tu, 8);
            if (uv != kCorners[i] || v[i].color != color) return false;
        }
        const float x0 = v[0].sx, y0 = v[0].sy, x1 = x0 + static_cast<float>(width), y1 = y0 + static_cast<float>(height);
        if (v[1].sx != x1 || v[2].sx != x0 || v[3].sx != x1 || v[1].sy != y0 || v[2].sy != y1 || v[3].sy != y1)
            return false;
        if (!IsWhole(x0) || !IsWhole(y0)) return false;
        r = Rect{static_cast<int>(x0), static_cast<int>(y0), 0, 0, color};
        r.x1 = r.x0 + width;
        r.y1 = r.y0 + height;
        // x1 and y1 are whole numbers added to whole x0 and y0, exactly
        // (far inside a float's 24 bits), so whole too: only their range
        // is left to check.
        return r.x1 <= kMaxCoordinate && r.y1 <= kMaxCoordinate;
    }
};

struct Other {
    Plan::Way way;
    uint32_t setup;
    const Stretch* stretch;  // rect
    Rect rect;               // rect
    uint32_t first, count;   // triangles: vertices
};

// Consecutive draws of one kind: the additive ones go to the kernel together.
struct Run {
    bool add;
    size_t first, count;
};

}  // namespace

// Draws the recording thread hands the helper at a time.
constexpr size_t kStreamBatch = 64;

// The kernel's draws of a scene, in order: a vector but for how a draw may be
// written (see Append), and that a new one is not first set to zero.
class DrawList {
public:
    size_t size() const { return count; }
    size_t capacity() const { return room; }
    const AddDraw* data() const { return items.get(); }
    const AddDraw& operator[](size_t i) const { return items[i]; }
    void clear() { count = 0; }
    // Room for `wanted` draws, the draws kept.
    void reserve(size_t wanted) {
        if (wanted <= room) return;
        std::unique_ptr<AddDraw[], Free> more(
            static_cast<AddDraw*>(::operator new(wanted * sizeof(AddDraw), std::align_val_t(64))));
        if (count) std::memcpy(more.get(), items.get(), count * sizeof(AddDraw));
        items = std::move(more);
        room = wanted;
    }
    // With `pastCaches`, the draw is written with stores that bypass the
    // caches. A helper on another core reads the draws while they are being
    // recorded, and a line it has read stays in its cache; writing that
    // line again (the next scene does) would wait for the other core to
    // give it up, line after line: the recording thread took twice as long.
    // Such stores do not wait, but must be published (Publish) before
    // another thread is told of them.
    void Append(const AddSource* source, int x, int y, int top, int bottom, bool pastCaches) {
        if (count == room) reserve(std::max<size_t>(2 * room, 1024));
        AddDraw* at = items.get() + count++;
#if defined(__x86_64__)
        static_assert(sizeof(AddDraw) == 24 && offsetof(AddDraw, x) == 8 && offsetof(AddDraw, top) == 16,
                      "a draw is three 64-bit words");
        if (pastCaches) {
            long long* words = reinterpret_cast<long long*>(at);
            _mm_stream_si64(words, static_cast<long long>(reinterpret_cast<uintptr_t>(source)));
            _mm_stream_si64(words + 1, static_cast<long long>(static_cast<uint32_t>(x) |
                                                              static_cast<uint64_t>(static_cast<uint32_t>(y)) << 32));
            _mm_stream_si64(words + 2, static_cast<long long>(static_cast<uint32_t>(top) |
                                                              static_cast<uint64_t>(static_cast<uint32_t>(bottom)) << 32));
            return;
        }
#endif
        // Field by field: built whole on the stack, it would be stored in
        // pieces and read back in one, which stalls.
        at->source = source;
        at->x = x;
        at->y = y;
        at->top = top;
        at->bottom = bottom;
    }
    // What was appended past the caches is seen by other threads before
    // anything this thread stores next.
    static void Publish() {
#if defined(__x86_64__)
        _mm_sfence();
#endif
    }

private:
    struct Free {
        void operator()(AddDraw* p) const { ::operator delete(p, std::align_val_t(64)); }
    };
    std::unique_ptr<AddDraw[], Free> items;
    size_t count = 0, room = 0;
};
// How long the helper waits for more draws before it leaves them to the flush.
constexpr auto kStreamPatience = std::chrono::microseconds(500);

struct DrawQueue::Recorded {
    Surface* target = nullptr;
    DrawList adds;
    std::vector<Other> others;
    std::vector<Run> runs;
    std::vector<Setup> setups;
    std::vector<D3DTLVERTEX> vertices;
    std::vector<std::shared_ptr<const Stretch>> held;  // what the draws read, kept until they are drawn
    std::vector<int64_t> load;  // per row, the change in work from the row before: bands share it out
    Plan plan;
    bool redHigh = false;  // the target's red field is its high one (the kernel's draws only)
    const AddKernel* kernel = nullptr;
    std::vector<int> bands;  // band i: rows bands[i] .. bands[i + 1] - 1
    size_t bandRuns[2] = {};    // the runs the bands draw: bandRuns[0] .. bandRuns[1] - 1
    std::vector<AddWork> work;  // the kernel's, one a band

    // Drawing while recording. Recording a scene costs the recording thread
    // a good part of what adding its draws costs, and the other threads would
    // wait for the flush meanwhile. So when a scene opens with the kernel's
    // draws, one of them, the helper, adds those draws to the rows from
    // `split` down as they are recorded, on the canvas, which needs nothing
    // known of the scene beforehand; at the flush it adds the rest of them
    // and narrows its rows, while the recording thread draws the rows above
    // the usual way. Rows stay with the same core from one scene to the
    // next (moving them between cores costs more than drawing them), and
    // `split` moves towards whichever side finished first.
    Workers* helpers = nullptr;  // the threads of the last flush, for the next scene
    bool canvasRun = false;      // this scene's first run was handed to a helper
    bool weighAtFlush = false;   // so its draws are not counted in `load`
    bool settled = false;        // the helper finished its rows
    size_t streamed = 0;         // the first run's draws the helper added to its rows
    size_t lastScene = 0;        // the kernel's draws of the scene before: room to keep
    int split = 0;               // the helper's first row
    // What the helper reads while the recording thread writes the rest, each
    // on cache lines of its own: a line both write goes back and forth
    // between their cores at every write.
    alignas(64) AddCanvas canvas;
    struct Stream {
        // Draws of the first run the helper may add, counted a few at a time.
        alignas(64) std::atomic<size_t> recorded{0};
        alignas(64) std::atomic<bool> finishing{false};  // the count is final: add them all, then narrow
        std::atomic<bool> closing{false};                // stop at the next few draws
        Workers* helpers = nullptr;                      // running: the threads one of which has it
        const AddDraw* draws = nullptr;                  // the first run, in place while it runs
        const AddKernel* kernel = nullptr;
        AddTarget rows{};                                // the helper's
        // The helper's, read once it has stopped.
        size_t added = 0;
        bool settled = false;
        std::chrono::steady_clock::time_point finished;
    };
    alignas(64) Stream stream;

    ~Recorded() { EndStream(true); }

    uint32_t AddSetup(const Surface& t, const TextureView& view, const RasterState& st) {
        setups.push_back(Setup{FormatOf(t.layout), view, st});
        return static_cast<uint32_t>(setups.size() - 1);
    }
    // One more of the kernel's draws: the source's top-left corner at (x, y).
    void Append(const AddSource& source, int x, int y) {
        // Growing the list moves it, so a helper reading it is stopped first.
        if (stream.helpers && adds.size() == adds.capacity()) EndStream(true);
        adds.Append(&source, x, y, y + source.litTop, y + source.litBottom, stream.helpers != nullptr);
    }
    // Counts the draw just recorded into its run and its rows' work.
    void Push(bool add, int top, int bottom, int64_t weight) {
        if (runs.empty() || runs.back().add != add) {
            if (runs.empty() && add) {
                StartStream();
            } else if (runs.size() == 1 && stream.helpers) {
                // The first run is whole: the helper may as well have all of it.
                DrawList::Publish();
                stream.recorded.store(runs[0].count, std::memory_order_release);
            }
            runs.push_back(Run{add, (add ? adds.size() : others.size()) - 1, 0});
        }
        ++runs.back().count;
        // The first run is shared out differently (see FinishFirstRun).
        if (weighAtFlush && runs.size() == 1) {
            if (stream.helpers && adds.size() % kStreamBatch == 0) {
                DrawList::Publish();
                stream.recorded.store(adds.size(), std::memory_order_release);
            }
            return;
        }
        if (top >= bottom) return;
        load[top] += weight;
        load[bottom] -= weight;
    }
    void StartStream();
    void EndStream(bool stop);
    void Stream();
    void FinishFirstRun(Workers* workers);
    void DrawRuns(int top, int bottom, size_t first, size_t last, AddWork& work);
    void AddAny(Surface& target, const Surface* texture, const RasterState& state, const D3DTLVERTEX* v,
                size_t count);
    void Decide(const Surface* texture, const RasterState& st, const Rect& r);
    void DrawBand(int band);
    void Finish(Workers* workers);
    void Discard();
};

void DrawQueue::Recorded::StartStream() {
    if (!helpers || helpers->Threads() < 2) return;
    kernel = &Kernel();
    FitAddCanvas(canvas, target->width, target->height);
    adds.reserve(lastScene + lastScene / 4 + 1024);
    if (split <= 0 || split >= target->height) split = target->height / 2;
    stream.recorded.store(0, std::memory_order_relaxed);
    stream.finishing.store(false, std::memory_order_relaxed);
    stream.closing.store(false, std::memory_order_relaxed);
    stream.draws = adds.data();
    stream.kernel = kernel;
    stream.rows = AddTarget{target->pixels.data(), target->pitch, target->width, split, target->height, redHigh};
    stream.added = 0;
    stream.settled = false;
    if (!helpers->Start([](void* context, int) { static_cast<Recorded*>(context)->Stream(); }, this)) return;
    stream.helpers = helpers;
    canvasRun = weighAtFlush = true;
    settled = false;
    streamed = 0;
}

// On the helper.
void DrawQueue::Recorded::Stream() {
    const AddKernel& k = *stream.kernel;
    const AddTarget rows = stream.rows;
    const AddDraw* const draws = stream.draws;
    size_t done = 0;
    SpinWait wait;
    for (;;) {
        if (stream.closing.load(std::memory_order_acquire)) break;
        const size_t ready = stream.recorded.load(std::memory_order_acquire);
        if (done < ready) {
            // A few at a time, so that it stops soon once asked to.
            const size_t upto = std::min(ready, done + kStreamBatch);
            k.addTo(rows, canvas, draws + done, upto - done);
            done = upto;
            wait = SpinWait();
            continue;
        }
        // The final count was stored before `finishing`.
        if (stream.finishing.load(std::memory_order_acquire)) {
            if (stream.recorded.load(std::memory_order_acquire) != done) continue;
            k.settle(rows, canvas);
            stream.settled = true;
            stream.finished = std::chrono::steady_clock::now();
            break;
        }
        // A program that records slowly leaves the rest to the flush rather
        // than keep a core waiting.
        if (wait.Waited() > kStreamPatience) break;
        wait.Step();
    }
    stream.added = done;
}

// Waits for the helper, having asked it to `stop` where it is, or else to
// finish its rows.
void DrawQueue::Recorded::EndStream(bool stop) {
    if (!stream.helpers) return;
    // The draws are read on other threads after this too.
    DrawList::Publish();
    if (stop) {
        stream.closing.store(true, std::memory_order_release);
    } else {
        stream.recorded.store(runs[0].count, std::memory_order_release);
        stream.finishing.store(true, std::memory_order_release);
    }
    // A helper that never began has added nothing.
    const bool ran = stream.helpers->Join();
    streamed = ran ? stream.added : 0;
    settled = ran && stream.settled;
    stream.helpers = nullptr;
    helped.drawsWhileRecording += streamed;
    helped.scenesFinished += settled;
}

// A fresh plan for a rectangle: the kernel's, the rectangle path's, or the
// general path when the rectangle is too big to stretch.
void DrawQueue::Recorded::Decide(const Surface* texture, const RasterState& st, const Rect& r) {
    // Draws recorded with the old plan may still read its stretched copy.
    if (plan.stretch && !runs.empty()) held.push_back(plan.stretch);
    Plan p;
    p.state = st;
    p.texture = texture;
    p.width = r.x1 - r.x0;
    p.height = r.y1 - r.y0;
    p.color = r.color;
    p.targetId = target->id;
    TextureView view = ViewOf(texture, st);
    plan = p;
    if (!view.surface || static_cast<int64_t>(p.width) * p.height > (int64_t(1) << 20)) {
        plan.way = Plan::Way::triangles;
        return;
    }
    plan.textureId = texture->id;
    plan.textureVersion = texture->version;
    plan.hasKey = texture->hasColorKey;
    plan.keyLow = texture->colorKeyLow;
    plan.stretch = StretchFor(view, st, p.width, p.height, r.color);
    if (AdditiveTarget(FormatOf(target->layout), st, plan.redHigh)) {
        plan.way = Plan::Way::add;
        redHigh = plan.redHigh;
    } else {
        plan.way = Plan::Way::rect;
        plan.setup = AddSetup(*target, view, st);
    }
}

// Runs first .. last - 1 on rows top .. bottom - 1.
void DrawQueue::Recorded::DrawRuns(int top, int bottom, size_t first, size_t last, AddWork& addWork) {
    Rows rows{*target, top, bottom};
    const AddTarget at{target->pixels.data(), target->pitch, target->width, top, bottom, redHigh};
    for (size_t i = first; i < last; ++i) {
        const Run& run = runs[i];
        if (run.add) {
            kernel->add(at, adds.data() + run.first, run.count, addWork);
            continue;
        }
        for (size_t i = run.first; i < run.first + run.count; ++i) {
            const Other& o = others[i];
            if (o.way == Plan::Way::rect) DrawRectRows(rows, setups[o.setup], *o.stretch, o.rect);
            else DrawStrip(rows, setups[o.setup], &vertices[o.first], o.count);
        }
    }
}

void DrawQueue::Recorded::DrawBand(int band) {
    DrawRuns(bands[band], bands[band + 1], bandRuns[0], bandRuns[1], work[band]);
}

DrawQueue::DrawQueue() : recorded(new Recorded) {}
DrawQueue::~DrawQueue() = default;

bool DrawQueue::Empty() const { return recorded->runs.empty(); }

void DrawQueue::Add(Surface& target, const Surface* texture, const RasterState& state, const D3DTLVERTEX* vertices,
                    size_t count) {
    Recorded& q = *recorded;
    Rect r;
    // The demo's every draw: the plan of the draw before, moved.
    if (q.plan.way == Plan::Way::add && &target == q.target && fastPaths && vertices && q.plan.Moved(vertices, count, r) &&
        q.plan.Unchanged(target, texture, state)) {
        target.Touch();
        ++fastDraws;
        const AddSource& source = q.plan.stretch->add;
        q.Append(source, r.x0, r.y0);
        q.Push(true, std::max(r.y0, 0), std::min(r.y1, target.height),
               std::max(0, std::min(r.x1, target.width) - std::max(r.x0, 0)) + 16);
        return;
    }
    q.AddAny(target, texture, state, vertices, count);
}

__attribute__((noinline)) void DrawQueue::Recorded::AddAny(Surface& t, const Surface* texture,
                                                          const RasterState& state, const D3DTLVERTEX* v,
                                                          size_t count) {
    if (!v || count < 3 || t.width <= 0 || t.height <= 0 || t.pixels.empty()) return;
    if (target != &t) {
        Finish(nullptr);
        target = &t;
        plan = Plan{};
        load.assign(t.height + 1, 0);
    }
    t.Touch();
    Rect r;
    if (fastPaths && AsRect(v, count, r)) {
        if (!plan.Fits(t, texture, state, r)) Decide(texture, state, r);
        if (plan.way != Plan::Way::triangles) {
            ++fastDraws;
            const int top = std::max(r.y0, 0), bottom = std::min(r.y1, t.height);
            const int64_t weight = std::max(0, std::min(r.x1, t.width) - std::max(r.x0, 0)) + 16;
            if (plan.way == Plan::Way::add) {
                const AddSource& source = plan.stretch->add;
                Append(source, r.x0, r.y0);
                Push(true, top, bottom, weight);
            } else {
                others.push_back(Other{Plan::Way::rect, plan.setup, plan.stretch.get(), r, 0, 0});
                Push(false, top, bottom, weight * 4);
            }
            return;
        }
    }
    others.push_back(Other{Plan::Way::triangles, AddSetup(t, ViewOf(texture, state), state), nullptr, Rect{},
                           static_cast<uint32_t>(vertices.size()), static_cast<uint32_t>(count)});
    vertices.insert(vertices.end(), v, v + count);
    int top, bottom;
    RowsOf(t, v, count, top, bottom);
    Push(false, top, bottom, static_cast<int64_t>(t.width) * 8);
}

void DrawQueue::Finish(Workers* workers) { recorded->Finish(workers); }
void DrawQueue::Discard() { recorded->Discard(); }

void DrawQueue::Recorded::Finish(Workers* workers) {
    helpers = workers;
    if (runs.empty()) return;
    size_t first = 0;
    if (canvasRun) {
        FinishFirstRun(workers);
        first = 1;
    } else {
        kernel = &Kernel();
    }
    lastScene = adds.size();
    if (first < runs.size()) {
        const int threads = workers ? workers->Threads() : 1;
        // More bands than threads, of about equal work, so that a thread the
        // system is slow to wake leaves its share to the others.
        const int wanted = threads > 1 ? threads * 3 : 1;
        bands.assign(1, 0);
        if (wanted > 1) {
            int64_t level = 0, total = 0;
            for (int y = 0; y < target->height; ++y) total += (level += load[y]);
            int64_t done = 0;
            level = 0;
            for (int y = 0; y < target->height; ++y) {
                done += (level += load[y]);
                if (done * wanted >= total * static_cast<int64_t>(bands.size()) &&
                    static_cast<int>(bands.size()) < wanted)
                    bands.push_back(y + 1);
            }
        }
        if (bands.back() != target->height) bands.push_back(target->height);
        const int count = static_cast<int>(bands.size()) - 1;
        if (work.size() < static_cast<size_t>(count)) work.resize(count);
        bandRuns[0] = first;
        bandRuns[1] = runs.size();
        if (workers && count > 1) {
            workers->Run(
                count, [](void* context, int i) { static_cast<Recorded*>(context)->DrawBand(i); }, this);
        } else {
            bands.assign({0, target->height});
            DrawBand(0);
        }
    }
    Discard();
}

// The first run, handed to a helper: the rows above `split` here (shared
// with any threads besides the helper), while the helper finishes its own.
void DrawQueue::Recorded::FinishFirstRun(Workers* workers) {
    using Clock = std::chrono::steady_clock;
    const bool helping = stream.helpers != nullptr;
    if (helping) {
        DrawList::Publish();
        stream.recorded.store(runs[0].count, std::memory_order_release);
        stream.finishing.store(true, std::memory_order_release);
    }
    const int height = target->height, mine = stream.rows.top;
    const int idle = workers ? workers->Threads() - 2 : 0;
    const int count = idle > 0 ? 2 * (idle + 1) : 1;
    bands.clear();
    for (int i = 0; i <= count; ++i) bands.push_back(mine * i / count);
    if (work.size() < static_cast<size_t>(count)) work.resize(count);
    bandRuns[0] = 0;
    bandRuns[1] = 1;
    if (count > 1) workers->Run(count, [](void* context, int i) { static_cast<Recorded*>(context)->DrawBand(i); }, this);
    else DrawBand(0);
    const Clock::time_point done = Clock::now();
    EndStream(false);
    if (settled) {
        // Rows move to whichever side finished first, in proportion to how
        // much sooner (a few microseconds a row).
        const double later = std::chrono::duration<double, std::micro>(stream.finished - done).count();
        split = std::max(1, std::min(height - 1, split + std::max(-16, std::min(16, static_cast<int>(later / 4)))));
        return;
    }
    // The helper stopped early (or never began): its rows are left here.
    if (work.empty()) work.resize(1);
    const AddTarget rows{target->pixels.data(), target->pitch, target->width, mine, height, redHigh};
    if (streamed == 0) {
        // Nothing on the canvas: the usual way is the quicker.
        kernel->add(rows, adds.data(), runs[0].count, work[0]);
    } else {
        kernel->addTo(rows, canvas, adds.data() + streamed, runs[0].count - streamed);
        kernel->settle(rows, canvas);
    }
}

void DrawQueue::Recorded::Discard() {
    EndStream(true);
    if (canvasRun && !settled) ForgetAddCanvas(canvas);
    canvasRun = weighAtFlush = settled = false;
    adds.clear();
    others.clear();
    runs.clear();
    setups.clear();
    vertices.clear();
    held.clear();
    std::fill(load.begin(), load.end(), 0);
    // Setups are gone: a rectangle plan that names one must be made again.
    if (plan.way == Plan::Way::rect) plan = Plan{};
}

void DrawTriangleStrip(Surface& target, const Surface* texture, const RasterState& state,
                       const D3DTLVERTEX* vertices, size_t count) {
    DrawQueue queue;
    queue.Add(target, texture, state, vertices, count);
    queue.Finish(nullptr);
}

void SetRasterFastPaths(bool on) { fastPaths = on; }
bool RasterFastPaths() { return fastPaths; }
unsigned long RasterFastDraws() { return fastDraws; }
RasterHelp RasterHelped() { return helped; }

void SetRasterKernel(const char* name) {
    forcedKernel = nullptr;
    size_t count;
    const AddKernel* kernels = AddKernels(count);
    for (size_t i = 0; name && i < count; ++i)
        if (std::strcmp(kernels[i].name, name) == 0 && kernels[i].runs()) forcedKernel = &kernels[i];
}

void ResetRaster() {
    fastPaths = true;
    fastDraws = 0;
    helped = RasterHelp{};
    forcedKernel = nullptr;
    stretchCache.clear();
    useClock = 0;
}

}  // namespace standin
