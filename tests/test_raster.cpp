// The stand-in's software rasteriser, driven directly on memory surfaces:
// coverage and the top-left rule, point sampling, colour key, blend factors,
// texture-stage operations, clipping, pixel formats, and the fast paths
// giving exactly the general path's pixels.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/faults.h"
#include "platform/raster.h"
#include "platform/standin.h"
#include "platform/surface.h"

using standin::PixelLayout;
using standin::RasterState;
using standin::Surface;

namespace {

const PixelLayout kGrey8{8, 0, 0, 0};
const PixelLayout k555{15, 0x7C00, 0x03E0, 0x001F};
const PixelLayout k565{16, 0xF800, 0x07E0, 0x001F};
const PixelLayout k565RedLow{16, 0x001F, 0x07E0, 0xF800};
const PixelLayout k24{24, 0xFF0000, 0x00FF00, 0x0000FF};
const PixelLayout k24RedLow{24, 0x0000FF, 0x00FF00, 0xFF0000};
const PixelLayout k32{32, 0xFF0000, 0x00FF00, 0x0000FF};
const PixelLayout k32RedLow{32, 0x0000FF, 0x00FF00, 0xFF0000};
const PixelLayout kColourLayouts[] = {k555, k565, k565RedLow, k24, k24RedLow, k32, k32RedLow};
const PixelLayout kAllLayouts[] = {kGrey8, k555, k565, k565RedLow, k24, k24RedLow, k32, k32RedLow};

Surface MakeSurface(int w, int h, const PixelLayout& layout, DWORD caps = 0) {
    Surface s;
    standin::InitSurface(s, w, h, layout, caps);
    return s;
}

void Fill(Surface& s, DWORD raw) {
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) s.WriteRaw(x, y, raw);
    s.Touch();
}

// The strip the sprites draw: corners in top-left, top-right, bottom-left,
// bottom-right order, the whole texture mapped once.
std::vector<D3DTLVERTEX> Quad(float x0, float y0, float x1, float y1, D3DCOLOR color = 0xFFFFFFFF,
                              float u1 = 1.0f, float v1 = 1.0f) {
    return {{x0, y0, 0, 1, color, 0, 0, 0},
            {x1, y0, 0, 1, color, 0, u1, 0},
            {x0, y1, 0, 1, color, 0, 0, v1},
            {x1, y1, 0, 1, color, 0, u1, v1}};
}

void Draw(Surface& target, const Surface* texture, const RasterState& st, const std::vector<D3DTLVERTEX>& v) {
    standin::DrawTriangleStrip(target, texture, st, v.data(), v.size());
}

RasterState Additive() {
    RasterState st;
    st.alphaBlend = true;
    st.srcBlend = D3DBLEND_ONE;
    st.destBlend = D3DBLEND_ONE;
    return st;
}

class RasterTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        faults::Reset();
        standin::SetRasterFastPaths(GetParam());
    }
    void TearDown() override { faults::Reset(); }
};

// A 32-bit pixel's colour as 0xRRGGBB.
DWORD Rgb(const Surface& s, int x, int y) { return s.ReadRaw(x, y) & 0xFFFFFF; }

}  // namespace

INSTANTIATE_TEST_SUITE_P(FastPaths, RasterTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "fast" : "general"; });

TEST_P(RasterTest, IntegerQuadCoversExactlyItsColumnsAndRows) {
    Surface target = MakeSurface(64, 64, k32);
    Surface texture = MakeSurface(1, 1, k32, DDSCAPS_TEXTURE);
    Fill(texture, 0xFFFFFF);
    Draw(target, &texture, RasterState{}, Quad(7, 9, 29, 31));
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            bool inside = x >= 7 && x <= 28 && y >= 9 && y <= 30;
            ASSERT_EQ(Rgb(target, x, y), inside ? 0xFFFFFFu : 0u) << x << "," << y;
        }
}

TEST_P(RasterTest, PixelCentresOnEdgesBelongToTopAndLeftEdgesOnly) {
    // Fractional corners: (2.5, 2.5)-(6.5, 5.5) covers centres 3..6 by 3..5;
    // quads sharing an edge never both draw a pixel and leave no gap.
    Surface target = MakeSurface(32, 16, k32);
    Surface texture = MakeSurface(1, 1, k32, DDSCAPS_TEXTURE);
    Fill(texture, 0x101010);
    RasterState st = Additive();
    Draw(target, &texture, st, Quad(2.5f, 2.5f, 6.5f, 5.5f));
    Draw(target, &texture, st, Quad(10, 0, 20, 8));
    Draw(target, &texture, st, Quad(20, 0, 30, 8));
    Draw(target, &texture, st, Quad(10, 8, 30, 16));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(Rgb(target, x, y), (x >= 3 && x <= 6 && y >= 3 && y <= 5) ? 0x101010u : 0u) << x << "," << y;
    for (int y = 0; y < 16; ++y)
        for (int x = 10; x < 32; ++x) ASSERT_EQ(Rgb(target, x, y), x < 30 ? 0x101010u : 0u) << x << "," << y;
}

TEST_P(RasterTest, SharedDiagonalsAndRandomConvexQuadsDrawEachPixelOnce) {
    Surface texture = MakeSurface(1, 1, k32, DDSCAPS_TEXTURE);
    Fill(texture, 0x010101);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> jitter(-3.0f, 3.0f);
    for (int round = 0; round < 200; ++round) {
        Surface target = MakeSurface(48, 48, k32);
        // A convex quad, clockwise on screen, corners off the pixel grid.
        float cx = 24, cy = 24;
        std::vector<D3DTLVERTEX> v = Quad(cx - 12 + jitter(rng), cy - 12 + jitter(rng), cx + 12 + jitter(rng),
                                          cy + 12 + jitter(rng));
        v[1].sy += jitter(rng);
        v[2].sx += jitter(rng);
        Draw(target, &texture, Additive(), v);
        int drawn = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 48; ++x) {
                DWORD c = Rgb(target, x, y);
                ASSERT_TRUE(c == 0 || c == 0x010101u) << "pixel drawn twice at " << x << "," << y;
                drawn += c != 0;
            }
        EXPECT_GT(drawn, 300);
    }
    // The same strip given counter-clockwise is culled.
    Surface target = MakeSurface(48, 48, k32);
    std::vector<D3DTLVERTEX> ccw = Quad(4, 4, 20, 20);
    std::swap(ccw[1], ccw[2]);
    Draw(target, &texture, Additive(), ccw);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) ASSERT_EQ(Rgb(target, x, y), 0u);
}

TEST_P(RasterTest, PointSamplingPicksTexelFloorOfUTimesWidth) {
    // 16 texels across 22 pixels: pixel i shows texel floor(i * 16 / 22),
    // including the exact boundary at pixel 11 (texel 8).
    Surface texture = MakeSurface(16, 16, k32, DDSCAPS_TEXTURE);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) texture.WriteRaw(x, y, static_cast<DWORD>(0x010000 * (x + 1) + 0x000100 * (y + 1)));
    texture.Touch();
    Surface target = MakeSurface(40, 40, k32);
    Draw(target, &texture, RasterState{}, Quad(3, 5, 25, 27));
    for (int j = 0; j < 22; ++j)
        for (int i = 0; i < 22; ++i) {
            int tx = i * 16 / 22, ty = j * 16 / 22;
            ASSERT_EQ(Rgb(target, 3 + i, 5 + j), static_cast<DWORD>(0x010000 * (tx + 1) + 0x000100 * (ty + 1)))
                << i << "," << j;
        }
    EXPECT_EQ(Rgb(target, 3 + 11, 5), 0x090100u);  // texel 8 of row 0

    // Minified 4x4 -> 3x3 picks texels 0, 1, 2; u from 0 to 2 wraps round.
    Surface small = MakeSurface(4, 4, k32, DDSCAPS_TEXTURE);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) small.WriteRaw(x, y, static_cast<DWORD>(0x10 * (x + 1)));
    small.Touch();
    Surface out = MakeSurface(16, 4, k32);
    Draw(out, &small, RasterState{}, Quad(0, 0, 3, 3));
    EXPECT_EQ(Rgb(out, 0, 0), 0x10u);
    EXPECT_EQ(Rgb(out, 1, 0), 0x20u);
    EXPECT_EQ(Rgb(out, 2, 0), 0x30u);
    Draw(out, &small, RasterState{}, Quad(4, 0, 12, 1, 0xFFFFFFFF, 2.0f, 1.0f));
    const DWORD wrapped[8] = {0x10, 0x20, 0x30, 0x40, 0x10, 0x20, 0x30, 0x40};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(Rgb(out, 4 + i, 0), wrapped[i]) << i;
}

TEST_P(RasterTest, ColourKeyLeavesKeyedTexelsOut) {
    Surface texture = MakeSurface(2, 1, k565, DDSCAPS_TEXTURE);
    texture.WriteRaw(0, 0, 0x0000);  // black: the sprites' key
    texture.WriteRaw(1, 0, 0xF800);  // red
    texture.hasColorKey = true;
    texture.Touch();
    RasterState keyed;
    keyed.colorKey = true;
    Surface target = MakeSurface(8, 2, k565);
    Fill(target, 0x001F);
    Draw(target, &texture, keyed, Quad(0, 0, 4, 1));
    EXPECT_EQ(target.ReadRaw(0, 0), 0x001Fu);  // background untouched
    EXPECT_EQ(target.ReadRaw(1, 0), 0x001Fu);
    EXPECT_EQ(target.ReadRaw(2, 0), 0xF800u);
    EXPECT_EQ(target.ReadRaw(3, 0), 0xF800u);
    // Keying off, or a texture without a key: black is drawn like any colour.
    Draw(target, &texture, RasterState{}, Quad(0, 1, 4, 2));
    EXPECT_EQ(target.ReadRaw(0, 1), 0x0000u);
    texture.hasColorKey = false;
    Fill(target, 0x001F);
    Draw(target, &texture, keyed, Quad(0, 0, 4, 1));
    EXPECT_EQ(target.ReadRaw(0, 0), 0x0000u);
}

namespace {
struct BlendCase {
    DWORD src, dest;
    DWORD expected;  // 0xRRGGBB
};
}  // namespace

TEST_P(RasterTest, EachBlendFactorAsSourceAndAsDestination) {
    // Source (200, 100, 50) with alpha 64 over destination (40, 80, 160) on a
    // 32-bit target without alpha (destination alpha 1.0); products rounded.
    const BlendCase cases[] = {
        {D3DBLEND_ZERO, D3DBLEND_ZERO, 0x000000},        {D3DBLEND_ONE, D3DBLEND_ZERO, 0xC86432},
        {D3DBLEND_SRCCOLOR, D3DBLEND_ZERO, 0x9D270A},    {D3DBLEND_INVSRCCOLOR, D3DBLEND_ZERO, 0x2B3D28},
        {D3DBLEND_SRCALPHA, D3DBLEND_ZERO, 0x32190D},    {D3DBLEND_INVSRCALPHA, D3DBLEND_ZERO, 0x964B25},
        {D3DBLEND_DESTALPHA, D3DBLEND_ZERO, 0xC86432},   {D3DBLEND_INVDESTALPHA, D3DBLEND_ZERO, 0x000000},
        {D3DBLEND_DESTCOLOR, D3DBLEND_ZERO, 0x1F1F1F},   {D3DBLEND_INVDESTCOLOR, D3DBLEND_ZERO, 0xA94513},
        {D3DBLEND_SRCALPHASAT, D3DBLEND_ZERO, 0x000000},
        {D3DBLEND_ZERO, D3DBLEND_ONE, 0x2850A0},         {D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, 0x1F1F1F},
        {D3DBLEND_ZERO, D3DBLEND_INVSRCCOLOR, 0x093181}, {D3DBLEND_ZERO, D3DBLEND_SRCALPHA, 0x0A1428},
        {D3DBLEND_ZERO, D3DBLEND_INVSRCALPHA, 0x1E3C78}, {D3DBLEND_ZERO, D3DBLEND_DESTALPHA, 0x2850A0},
        {D3DBLEND_ZERO, D3DBLEND_INVDESTALPHA, 0x000000}, {D3DBLEND_ZERO, D3DBLEND_DESTCOLOR, 0x061964},
        {D3DBLEND_ZERO, D3DBLEND_INVDESTCOLOR, 0x22373C}, {D3DBLEND_ZERO, D3DBLEND_SRCALPHASAT, 0x000000},
        {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0x505585}, {D3DBLEND_ONE, D3DBLEND_ONE, 0xF0B4D2},
        {D3DBLEND_ONE, D3DBLEND_DESTALPHA, 0xF0B4D2},
    };
    Surface texture = MakeSurface(1, 1, k32, DDSCAPS_TEXTURE);
    Fill(texture, 0xFFFFFF);
    for (const BlendCase& c : cases) {
        RasterState st;
        st.alphaBlend = true;
        st.srcBlend = c.src;
        st.destBlend = c.dest;
        st.alphaOp = D3DTOP_SELECTARG2;  // the diffuse alpha, as the sprites draw
        Surface target = MakeSurface(4, 4, k32);
        Fill(target, 0x2850A0);
        Draw(target, &texture, st, Quad(0, 0, 2, 2, 0x40C86432));
        EXPECT_EQ(Rgb(target, 0, 0), c.expected) << "src " << c.src << " dest " << c.dest;
        EXPECT_EQ(Rgb(target, 2, 2), 0x2850A0u);
    }
    // Saturation, and blending off writing the source whatever the factors.
    RasterState add = Additive();
    Surface target = MakeSurface(2, 2, k32);
    Fill(target, 0x64C8FA);
    Draw(target, &texture, add, Quad(0, 0, 1, 1, 0xFFC86432));
    EXPECT_EQ(Rgb(target, 0, 0), 0xFFFFFFu);
    add.alphaBlend = false;
    Draw(target, &texture, add, Quad(1, 1, 2, 2, 0xFFC86432));
    EXPECT_EQ(Rgb(target, 1, 1), 0xC86432u);
}

TEST_P(RasterTest, OneAndDestAlphaAddWithSaturationOn16BitTargets) {
    // No alpha channel: DESTALPHA is 1, so ONE / DESTALPHA adds.
    Surface texture = MakeSurface(1, 1, k565, DDSCAPS_TEXTURE);
    Fill(texture, standin::ColorToPixel(k565, 0x00408080));  // r 0x80, g 0x80, b 0x40
    RasterState st = Additive();
    st.destBlend = D3DBLEND_DESTALPHA;
    Surface target = MakeSurface(4, 1, k565);
    Fill(target, standin::ColorToPixel(k565, 0x00FF10A0));
    Draw(target, &texture, st, Quad(0, 0, 4, 1));
    // Widened: red 0x84 + 0xA5 saturates; green 0x82 + 0x10 = 0x92; blue 0x42 + 0xFF saturates.
    DWORD p = target.ReadRaw(0, 0);
    EXPECT_EQ(p >> 11, 31u);
    EXPECT_EQ((p >> 5) & 63, 0x92u >> 2);
    EXPECT_EQ(p & 31, 31u);
}

TEST_P(RasterTest, StageOperationsCombineTextureAndDiffuse) {
    Surface texture = MakeSurface(1, 1, k32, DDSCAPS_TEXTURE);
    Fill(texture, 0xFF8000);
    auto drawOne = [&](const RasterState& st, D3DCOLOR diffuse) {
        Surface target = MakeSurface(2, 2, k32);
        Fill(target, 0x2850A0);
        Draw(target, &texture, st, Quad(0, 0, 1, 1, diffuse));
        return Rgb(target, 0, 0);
    };
    RasterState st;  // MODULATE texture by diffuse
    EXPECT_EQ(drawOne(st, 0xFF808080), 0x804000u);
    st.colorOp = D3DTOP_SELECTARG1;
    EXPECT_EQ(drawOne(st, 0xFF808080), 0xFF8000u);
    st.colorOp = D3DTOP_SELECTARG2;
    EXPECT_EQ(drawOne(st, 0xFF123456), 0x123456u);
    st.colorOp = D3DTOP_DISABLE;
    EXPECT_EQ(drawOne(st, 0xFF123456), 0x123456u);

    // Alpha through SRCALPHA / ZERO. A texture without alpha reads as opaque.
    Fill(texture, 0xFFFFFF);
    RasterState a;
    a.alphaBlend = true;
    a.srcBlend = D3DBLEND_SRCALPHA;
    a.destBlend = D3DBLEND_ZERO;
    const D3DCOLOR diffuse = 0x40C86432;
    EXPECT_EQ(drawOne(a, diffuse), 0xC86432u);  // SELECTARG1: texture alpha 1.0 (the default op)
    a.alphaOp = D3DTOP_SELECTARG2;
    EXPECT_EQ(drawOne(a, diffuse), 0x32190Du);  // diffuse alpha 64
    a.alphaOp = D3DTOP_MODULATE;
    a.alphaArg1 = D3DTA_DIFFUSE;
    EXPECT_EQ(drawOne(a, diffuse), 0x0D0603u);  // 64 * 64 / 255 = 16
    // Without a texture the texture argument reads as opaque white.
    Surface target = MakeSurface(2, 2, k32);
    Draw(target, nullptr, RasterState{}, Quad(0, 0, 1, 1, 0xFF123456));
    EXPECT_EQ(Rgb(target, 0, 0), 0x123456u);
}

TEST_P(RasterTest, ClipsToTheTargetAndNeverTouchesRowPadding) {
    Surface texture = MakeSurface(3, 3, k24, DDSCAPS_TEXTURE);
    Fill(texture, 0xABCDEF);
    // 5 pixels of 3 bytes: each row carries one padding byte.
    Surface target = MakeSurface(5, 4, k24);
    ASSERT_EQ(target.pitch, 16);
    Draw(target, &texture, RasterState{}, Quad(-10, -10, 2, 1));
    Draw(target, &texture, RasterState{}, Quad(3, 2, 40, 40));
    Draw(target, &texture, RasterState{}, Quad(-100, 100, -50, 200));
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(target.Row(y)[15], 0) << y;
        for (int x = 0; x < 5; ++x) {
            bool drawn = (x < 2 && y < 1) || (x >= 3 && y >= 2);
            EXPECT_EQ(target.ReadRaw(x, y), drawn ? 0xABCDEFu : 0u) << x << "," << y;
        }
    }
    // Absurd and non-finite coordinates draw nothing and do not crash.
    Surface clean = MakeSurface(5, 4, k24);
    Draw(clean, &texture, RasterState{}, Quad(-1e30f, -1e30f, 1e30f, 1e30f));
    Draw(clean, &texture, RasterState{}, Quad(0, 0, std::nanf(""), 3));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(clean.ReadRaw(x, y), 0u);
}

TEST_P(RasterTest, EveryFormatAsTargetAndAsTexture) {
    const COLORREF colours[] = {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF, 0x808080};
    for (const PixelLayout& tl : kColourLayouts)
        for (const PixelLayout& dl : kColourLayouts)
            for (COLORREF c : colours) {
                Surface texture = MakeSurface(2, 2, tl, DDSCAPS_TEXTURE);
                Fill(texture, standin::ColorToPixel(tl, c));
                Surface target = MakeSurface(3, 3, dl);
                Draw(target, &texture, RasterState{}, Quad(0, 0, 2, 2));
                BYTE in[3], out[3];
                standin::PixelToRgb8(tl, standin::ColorToPixel(tl, c), in);
                DWORD expected = standin::ColorToPixel(dl, in[0] | (in[1] << 8) | (in[2] << 16));
                ASSERT_EQ(target.ReadRaw(1, 1), expected)
                    << "texture " << tl.bitsPerPixel << " target " << dl.bitsPerPixel << " colour " << std::hex << c;
                standin::PixelToRgb8(dl, target.ReadRaw(0, 0), out);
                if (c == 0xFFFFFF) {
                    EXPECT_TRUE(out[0] == 255 && out[1] == 255 && out[2] == 255);
                }
                EXPECT_EQ(target.ReadRaw(2, 2), 0u);
            }
    // 8-bit surfaces carry grey levels both ways.
    Surface grey = MakeSurface(1, 1, kGrey8, DDSCAPS_TEXTURE);
    Fill(grey, 200);
    Surface wide = MakeSurface(2, 2, k32);
    Draw(wide, &grey, RasterState{}, Quad(0, 0, 1, 1));
    EXPECT_EQ(Rgb(wide, 0, 0), 0xC8C8C8u);
    Surface white = MakeSurface(1, 1, k32, DDSCAPS_TEXTURE);
    Fill(white, 0xFFFFFF);
    Surface indexed = MakeSurface(2, 2, kGrey8);
    Draw(indexed, &white, RasterState{}, Quad(0, 0, 1, 1));
    EXPECT_EQ(indexed.ReadRaw(0, 0), 255u);
}

TEST(RasterFastPath, ChangedTextureIsStretchedAnew) {
    faults::Reset();
    Surface texture = MakeSurface(2, 2, k565, DDSCAPS_TEXTURE);
    Fill(texture, 0x0010);
    Surface target = MakeSurface(8, 8, k565);
    Draw(target, &texture, Additive(), Quad(0, 0, 4, 4));
    EXPECT_EQ(target.ReadRaw(1, 1), 0x0010u);
    texture.WriteRaw(0, 0, 0x0800);
    texture.Touch();  // what Unlock, Blt and ReleaseDC do
    Surface again = MakeSurface(8, 8, k565);
    Draw(again, &texture, Additive(), Quad(0, 0, 4, 4));
    EXPECT_EQ(again.ReadRaw(1, 1), 0x0800u);
    EXPECT_EQ(again.ReadRaw(2, 2), 0x0010u);
    EXPECT_EQ(standin::RasterFastDraws(), 2u);
    faults::Reset();
}

// The fast paths must give exactly the general path's pixels: random
// textures, sizes, positions (partly off every edge, and close to the right
// edge where the vector kernel runs out of room), formats, key, colours,
// operations and blend factors, drawn with the fast paths off and on.
TEST(RasterFastPath, BitIdenticalToTheGeneralPathOnRandomSprites) {
    faults::Reset();
    std::mt19937 rng(20240);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    unsigned long rectDraws = 0;
    int cases = 0, additive565 = 0;
    for (int round = 0; round < 1500; ++round) {
        const PixelLayout& dl = round % 3 == 0 ? k565 : kAllLayouts[pick(0, 7)];
        const PixelLayout& tl = dl.bitsPerPixel == 8 ? kGrey8 : kColourLayouts[pick(0, 6)];
        Surface texture = MakeSurface(pick(1, 24), pick(1, 24), tl, DDSCAPS_TEXTURE);
        for (int y = 0; y < texture.height; ++y)
            for (int x = 0; x < texture.width; ++x)
                texture.WriteRaw(x, y, pick(0, 3) == 0 ? 0 : static_cast<DWORD>(rng() & ((1ull << (8 * tl.BytesPerPixel())) - 1)));
        texture.hasColorKey = pick(0, 3) != 0;
        texture.Touch();
        const int w = pick(40, 130), h = pick(20, 60);
        Surface start = MakeSurface(w, h, dl);
        for (size_t i = 0; i < start.pixels.size(); ++i) start.pixels[i] = static_cast<BYTE>(rng());
        Surface general = start, fast = start;
        for (int draw = 0; draw < 12; ++draw) {
            RasterState st;
            st.colorKey = pick(0, 4) != 0;
            st.alphaBlend = pick(0, 5) != 0;
            const bool demo = pick(0, 2) == 0;
            st.srcBlend = demo ? DWORD{D3DBLEND_ONE} : static_cast<DWORD>(pick(1, 11));
            st.destBlend = demo ? DWORD{pick(0, 1) ? D3DBLEND_DESTALPHA : D3DBLEND_ONE} : static_cast<DWORD>(pick(1, 11));
            if (pick(0, 3) == 0) st.colorOp = static_cast<DWORD>(pick(1, 4));
            st.alphaOp = static_cast<DWORD>(pick(1, 4));
            D3DCOLOR color = pick(0, 1) ? 0xFFFFFFFF : static_cast<D3DCOLOR>(rng());
            const int sw = pick(1, 40), sh = pick(1, 40);
            const int x = pick(-sw - 2, w + 2), y = pick(-sh - 2, h + 2);
            std::vector<D3DTLVERTEX> v =
                Quad(static_cast<float>(x), static_cast<float>(y), static_cast<float>(x + sw), static_cast<float>(y + sh), color);
            if (pick(0, 9) == 0) v[3].color ^= 0x00102030;  // Gouraud: general path in both runs
            standin::SetRasterFastPaths(false);
            Draw(general, &texture, st, v);
            standin::SetRasterFastPaths(true);
            unsigned long before = standin::RasterFastDraws();
            Draw(fast, &texture, st, v);
            rectDraws += standin::RasterFastDraws() - before;
            additive565 += (dl.bitsPerPixel == 16 && st.alphaBlend && st.srcBlend == D3DBLEND_ONE &&
                            (st.destBlend == D3DBLEND_ONE || st.destBlend == D3DBLEND_DESTALPHA));
            ++cases;
            size_t diff = 0;
            while (diff < general.pixels.size() && general.pixels[diff] == fast.pixels[diff]) ++diff;
            ASSERT_EQ(diff, general.pixels.size())
                << "first differing byte: row " << diff / general.pitch << " byte " << diff % general.pitch << ", "
                << "round " << round << " draw " << draw << " target " << dl.bitsPerPixel << " texture "
                << tl.bitsPerPixel << " " << texture.width << "x" << texture.height << " sprite " << sw << "x" << sh
                << " at " << x << "," << y << " blend " << st.alphaBlend << " " << st.srcBlend << "/" << st.destBlend;
        }
    }
    // The comparison is only worth something if most draws took the fast path.
    EXPECT_GT(rectDraws, static_cast<unsigned long>(cases) * 8 / 10);
    EXPECT_GT(additive565, cases / 10);
    faults::Reset();
}
