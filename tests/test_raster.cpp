// The stand-in's software rasteriser, driven directly on memory surfaces:
// coverage and the top-left rule, point sampling, colour key, blend factors,
// texture-stage operations, clipping, pixel formats, and the fast paths
// giving exactly the general path's pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

// Grey 8-bit first, then the colour layouts, some with red in the low bits.
const PixelLayout kAllLayouts[] = {
    {8, 0, 0, 0},                       {15, 0x7C00, 0x03E0, 0x001F},       {16, 0xF800, 0x07E0, 0x001F},
    {16, 0x001F, 0x07E0, 0xF800},       {24, 0xFF0000, 0x00FF00, 0x0000FF}, {24, 0x0000FF, 0x00FF00, 0xFF0000},
    {32, 0xFF0000, 0x00FF00, 0x0000FF}, {32, 0x0000FF, 0x00FF00, 0xFF0000}};
const PixelLayout &kGrey8 = kAllLayouts[0], &k565 = kAllLayouts[2], &k24 = kAllLayouts[4], &k32 = kAllLayouts[6];

// A surface with every pixel `raw`.
Surface Make(int w, int h, const PixelLayout& layout, DWORD raw = 0, DWORD caps = 0) {
    Surface s;
    standin::InitSurface(s, w, h, layout, caps);
    for (int i = 0; i < w * h; ++i) s.WriteRaw(i % w, i / w, raw);
    s.Touch();
    return s;
}
Surface Tex(int w, int h, const PixelLayout& layout, DWORD raw) { return Make(w, h, layout, raw, DDSCAPS_TEXTURE); }

// The strip the sprites draw: corners in top-left, top-right, bottom-left,
// bottom-right order, the whole texture mapped once.
std::vector<D3DTLVERTEX> Quad(float x0, float y0, float x1, float y1, D3DCOLOR color = 0xFFFFFFFF,
                              float u1 = 1.0f, float v1 = 1.0f) {
    return {{x0, y0, 0, 1, color, 0, 0, 0}, {x1, y0, 0, 1, color, 0, u1, 0},
            {x0, y1, 0, 1, color, 0, 0, v1}, {x1, y1, 0, 1, color, 0, u1, v1}};
}

void Draw(Surface& target, const Surface* texture, const RasterState& st, const std::vector<D3DTLVERTEX>& v) {
    standin::DrawTriangleStrip(target, texture, st, v.data(), v.size());
}

RasterState Blend(DWORD src, DWORD dest, DWORD alphaOp = D3DTOP_SELECTARG1) {
    RasterState st{true, src, dest};
    st.alphaOp = alphaOp;
    return st;
}
const RasterState kAdd = Blend(D3DBLEND_ONE, D3DBLEND_ONE), kKeyed{false, D3DBLEND_ONE, D3DBLEND_ZERO, true};

// A 32-bit pixel's colour as 0xRRGGBB.
DWORD Rgb(const Surface& s, int x, int y) { return s.ReadRaw(x, y) & 0xFFFFFF; }

// One pixel of `diffuse` drawn over `background` on a 32-bit target; its
// neighbour must stay untouched.
DWORD OnePixel(const RasterState& st, const Surface* texture, D3DCOLOR diffuse, DWORD background = 0x2850A0) {
    Surface target = Make(2, 2, k32, background);
    Draw(target, texture, st, Quad(0, 0, 1, 1, diffuse));
    EXPECT_EQ(Rgb(target, 1, 1), background);
    return Rgb(target, 0, 0);
}

class RasterTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { faults::Reset(); standin::SetRasterFastPaths(GetParam()); }
    void TearDown() override { faults::Reset(); }
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(FastPaths, RasterTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "fast" : "general"; });

TEST_P(RasterTest, CoverageFollowsTheTopLeftRuleAndDrawsEachPixelOnce) {
    // Drawn additively, so a pixel drawn twice shows. 22 x 22 at (7, 9) covers
    // x 7..28, y 9..30; (2.5, 2.5)-(6.5, 5.5) covers 3..6 by 3..5; three quads
    // tiling (34, 0)-(54, 16) leave no gap; a counter-clockwise strip is culled.
    Surface texture = Tex(1, 1, k32, 0x101010), target = Make(64, 40, k32);
    std::vector<D3DTLVERTEX> ccw = Quad(40, 20, 60, 38);
    std::swap(ccw[1], ccw[2]);
    for (const auto& q : {Quad(7, 9, 29, 31), Quad(2.5f, 2.5f, 6.5f, 5.5f), Quad(34, 0, 44, 8), Quad(44, 0, 54, 8),
                          Quad(34, 8, 54, 16), ccw})
        Draw(target, &texture, kAdd, q);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 64; ++x) {
            bool in = (x >= 7 && x <= 28 && y >= 9 && y <= 30) || (x >= 3 && x <= 6 && y >= 3 && y <= 5) ||
                      (x >= 34 && x < 54 && y < 16);
            ASSERT_EQ(Rgb(target, x, y), in ? 0x101010u : 0u) << x << "," << y;
        }
    // Random convex clockwise quads, corners off the grid: the diagonal both
    // triangles share is drawn once.
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> jitter(-3.0f, 3.0f);
    for (int round = 0; round < 200; ++round) {
        Surface quad = Make(48, 48, k32);
        std::vector<D3DTLVERTEX> v = Quad(12 + jitter(rng), 12 + jitter(rng), 36 + jitter(rng), 36 + jitter(rng));
        v[1].sy += jitter(rng);
        v[2].sx += jitter(rng);
        Draw(quad, &texture, kAdd, v);
        ASSERT_EQ(std::count(quad.pixels.begin(), quad.pixels.end(), 0x20), 0) << "a pixel drawn twice, round " << round;
        EXPECT_GT(std::count(quad.pixels.begin(), quad.pixels.end(), 0x10), 3 * 300);
    }
}

TEST_P(RasterTest, PointSamplingPicksTexelFloorOfUTimesWidthAndWraps) {
    // 16 texels across 22 pixels: pixel i shows texel floor(i * 16 / 22).
    auto texel = [](int x, int y) { return static_cast<DWORD>(0x010000 * (x + 1) + 0x000100 * (y + 1)); };
    Surface texture = Tex(16, 16, k32, 0), target = Make(40, 40, k32);
    for (int i = 0; i < 16 * 16; ++i) texture.WriteRaw(i % 16, i / 16, texel(i % 16, i / 16));
    texture.Touch();
    Draw(target, &texture, RasterState{}, Quad(3, 5, 25, 27));
    for (int i = 0; i < 22 * 22; ++i)
        ASSERT_EQ(Rgb(target, 3 + i % 22, 5 + i / 22), texel(i % 22 * 16 / 22, i / 22 * 16 / 22)) << i % 22 << "," << i / 22;
    // Minified 4 -> 3 picks texels 0, 1, 2; u from 0 to 2 over 8 pixels wraps round.
    Surface small = Tex(4, 1, k32, 0), out = Make(12, 1, k32);
    for (int x = 0; x < 4; ++x) small.WriteRaw(x, 0, static_cast<DWORD>(0x10 * (x + 1)));
    small.Touch();
    Draw(out, &small, RasterState{}, Quad(0, 0, 3, 1));
    Draw(out, &small, RasterState{}, Quad(4, 0, 12, 1, 0xFFFFFFFF, 2.0f, 1.0f));
    const DWORD row[12] = {0x10, 0x20, 0x30, 0, 0x10, 0x20, 0x30, 0x40, 0x10, 0x20, 0x30, 0x40};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(Rgb(out, i, 0), row[i]) << i;
}

TEST_P(RasterTest, ColourKeyLeavesKeyedTexelsOut) {
    // Black (the sprites' key) and red texels over blue: row 0 keyed, row 1
    // keying off, row 2 keying on but the texture has no key.
    Surface texture = Tex(2, 1, k565, 0xF800), target = Make(4, 3, k565, 0x001F);
    texture.WriteRaw(0, 0, 0x0000);
    texture.hasColorKey = true;
    texture.Touch();
    Draw(target, &texture, kKeyed, Quad(0, 0, 4, 1));
    Draw(target, &texture, RasterState{}, Quad(0, 1, 4, 2));
    texture.hasColorKey = false;
    Draw(target, &texture, kKeyed, Quad(0, 2, 4, 3));
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(target.ReadRaw(1, y), y == 0 ? 0x001Fu : 0u) << y;
        EXPECT_EQ(target.ReadRaw(2, y), 0xF800u) << y;
    }
}

TEST_P(RasterTest, EachBlendFactorAsSourceAndAsDestinationWithSaturation) {
    // Source (200, 100, 50) with alpha 64 (the diffuse alpha, as the sprites
    // draw) over (40, 80, 160) on a 32-bit target without alpha (destination
    // alpha 1.0); products rounded.
    Surface white = Tex(1, 1, k32, 0xFFFFFF);
    auto blended = [&](DWORD src, DWORD dest) { return OnePixel(Blend(src, dest, D3DTOP_SELECTARG2), &white, 0x40C86432); };
    // Factors ZERO (1) .. SRCALPHASAT (11), each with ZERO on the other side.
    const DWORD asSource[11] = {0x000000, 0xC86432, 0x9D270A, 0x2B3D28, 0x32190D, 0x964B25,
                                0xC86432, 0x000000, 0x1F1F1F, 0xA94513, 0x000000};
    const DWORD asDest[11] = {0x000000, 0x2850A0, 0x1F1F1F, 0x093181, 0x0A1428, 0x1E3C78,
                              0x2850A0, 0x000000, 0x061964, 0x22373C, 0x000000};
    for (DWORD f = D3DBLEND_ZERO; f <= D3DBLEND_SRCALPHASAT; ++f) {
        EXPECT_EQ(blended(f, D3DBLEND_ZERO), asSource[f - 1]) << "source " << f;
        EXPECT_EQ(blended(D3DBLEND_ZERO, f), asDest[f - 1]) << "destination " << f;
    }
    EXPECT_EQ(blended(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA), 0x505585u);
    EXPECT_EQ(blended(D3DBLEND_ONE, D3DBLEND_ONE), 0xF0B4D2u);
    EXPECT_EQ(blended(D3DBLEND_ONE, D3DBLEND_DESTALPHA), 0xF0B4D2u);
    // Sums saturate; with blending off the source is written whatever the factors.
    EXPECT_EQ(OnePixel(kAdd, &white, 0xFFC86432, 0x64C8FA), 0xFFFFFFu);
    EXPECT_EQ(OnePixel(RasterState{false, D3DBLEND_ONE, D3DBLEND_ONE}, &white, 0xFFC86432, 0x64C8FA), 0xC86432u);
    // A 16-bit target has no alpha, so ONE / DESTALPHA adds, widened: red
    // 0x84 + 0xA5 saturates; green 0x82 + 0x10 = 0x92; blue 0x42 + 0xFF saturates.
    Surface texture = Tex(1, 1, k565, standin::ColorToPixel(k565, 0x00408080));
    Surface target16 = Make(4, 1, k565, standin::ColorToPixel(k565, 0x00FF10A0));
    Draw(target16, &texture, Blend(D3DBLEND_ONE, D3DBLEND_DESTALPHA), Quad(0, 0, 4, 1));
    EXPECT_EQ(target16.ReadRaw(0, 0), (31u << 11) | ((0x92u >> 2) << 5) | 31u);
}

TEST_P(RasterTest, StageOperationsCombineTextureAndDiffuse) {
    Surface orange = Tex(1, 1, k32, 0xFF8000), white = Tex(1, 1, k32, 0xFFFFFF);
    // Texture (255, 128, 0), diffuse (128, 128, 128).
    const DWORD ops[4] = {D3DTOP_MODULATE, D3DTOP_SELECTARG1, D3DTOP_SELECTARG2, D3DTOP_DISABLE};
    const DWORD want[4] = {0x804000, 0xFF8000, 0x808080, 0x808080};
    for (int i = 0; i < 4; ++i) {
        RasterState st;
        st.colorOp = ops[i];
        EXPECT_EQ(OnePixel(st, &orange, 0xFF808080), want[i]) << ops[i];
    }
    // Alpha through SRCALPHA / ZERO. A texture without alpha reads as opaque.
    // SELECTARG1 (the default) takes the texture's 1.0, SELECTARG2 the diffuse
    // 64, MODULATE of diffuse by diffuse 64 * 64 / 255 = 16.
    EXPECT_EQ(OnePixel(Blend(D3DBLEND_SRCALPHA, D3DBLEND_ZERO), &white, 0x40C86432), 0xC86432u);
    EXPECT_EQ(OnePixel(Blend(D3DBLEND_SRCALPHA, D3DBLEND_ZERO, D3DTOP_SELECTARG2), &white, 0x40C86432), 0x32190Du);
    RasterState a = Blend(D3DBLEND_SRCALPHA, D3DBLEND_ZERO, D3DTOP_MODULATE);
    a.alphaArg1 = D3DTA_DIFFUSE;
    EXPECT_EQ(OnePixel(a, &white, 0x40C86432), 0x0D0603u);
    // Without a texture the texture argument reads as opaque white.
    EXPECT_EQ(OnePixel(RasterState{}, nullptr, 0xFF123456), 0x123456u);
}

TEST_P(RasterTest, ClipsToTheTargetAndNeverTouchesRowPadding) {
    Surface texture = Tex(3, 3, k24, 0xABCDEF), target = Make(5, 4, k24), clean = Make(5, 4, k24);
    ASSERT_EQ(target.pitch, 16);  // 5 pixels of 3 bytes: one padding byte a row
    for (const auto& q : {Quad(-10, -10, 2, 1), Quad(3, 2, 40, 40), Quad(-100, 100, -50, 200)})
        Draw(target, &texture, RasterState{}, q);
    // Absurd and non-finite coordinates draw nothing and do not crash.
    for (const auto& q : {Quad(-1e30f, -1e30f, 1e30f, 1e30f), Quad(0, 0, std::nanf(""), 3)})
        Draw(clean, &texture, RasterState{}, q);
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(target.Row(y)[15], 0) << y;
        for (int x = 0; x < 5; ++x) {
            bool drawn = (x < 2 && y < 1) || (x >= 3 && y >= 2);
            EXPECT_EQ(target.ReadRaw(x, y), drawn ? 0xABCDEFu : 0u) << x << "," << y;
            EXPECT_EQ(clean.ReadRaw(x, y), 0u) << x << "," << y;
        }
    }
}

TEST_P(RasterTest, EveryFormatAsTargetAndAsTexture) {
    // Every colour layout to every other: the texel's colour in the target's format.
    for (int t = 1; t < 8; ++t)
        for (int d = 1; d < 8; ++d)
            for (COLORREF c : {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF, 0x808080}) {
                const PixelLayout &tl = kAllLayouts[t], &dl = kAllLayouts[d];
                Surface texture = Tex(2, 2, tl, standin::ColorToPixel(tl, c)), target = Make(3, 3, dl);
                Draw(target, &texture, RasterState{}, Quad(0, 0, 2, 2));
                BYTE in[3];
                standin::PixelToRgb8(tl, standin::ColorToPixel(tl, c), in);
                ASSERT_EQ(target.ReadRaw(1, 1), standin::ColorToPixel(dl, in[0] | (in[1] << 8) | (in[2] << 16)))
                    << "texture " << t << " target " << d << " colour " << std::hex << c;
            }
    // 8-bit surfaces carry grey levels both ways.
    Surface grey = Tex(1, 1, kGrey8, 200), white = Tex(1, 1, k32, 0xFFFFFF);
    Surface wide = Make(2, 2, k32), indexed = Make(2, 2, kGrey8);
    Draw(wide, &grey, RasterState{}, Quad(0, 0, 1, 1));
    Draw(indexed, &white, RasterState{}, Quad(0, 0, 1, 1));
    EXPECT_EQ(Rgb(wide, 0, 0), 0xC8C8C8u);
    EXPECT_EQ(indexed.ReadRaw(0, 0), 255u);
}

// The fast paths must give exactly the general path's pixels: random
// textures (changed between draws, so a stale stretched copy shows), sizes,
// positions (partly off every edge, and close to the right edge where the
// vector kernel runs out of room), formats, key, colours, operations and
// blend factors, drawn with the fast paths off and on.
TEST(RasterFastPath, BitIdenticalToTheGeneralPathOnRandomSprites) {
    faults::Reset();
    std::mt19937 rng(20240);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int kCases = 1500 * 12;
    unsigned long rectDraws = 0;
    int additive565 = 0;
    for (int round = 0; round < kCases / 12; ++round) {
        const PixelLayout& dl = round % 3 == 0 ? k565 : kAllLayouts[pick(0, 7)];
        const PixelLayout& tl = dl.bitsPerPixel == 8 ? kGrey8 : kAllLayouts[pick(1, 7)];
        const DWORD mask = static_cast<DWORD>((1ull << (8 * tl.BytesPerPixel())) - 1);
        Surface texture = Tex(pick(1, 24), pick(1, 24), tl, 0);
        for (int y = 0; y < texture.height; ++y)
            for (int x = 0; x < texture.width; ++x) texture.WriteRaw(x, y, pick(0, 3) == 0 ? 0 : rng() & mask);
        texture.hasColorKey = pick(0, 3) != 0;
        texture.Touch();
        const int w = pick(40, 130), h = pick(20, 60);
        Surface start = Make(w, h, dl);
        for (BYTE& b : start.pixels) b = static_cast<BYTE>(rng());
        Surface general = start, fast = start;
        const int evenW = pick(1, 40), evenH = pick(1, 40);  // even draws share a size: stretched copies get reused
        for (int draw = 0; draw < 12; ++draw) {
            if (draw == 6) {  // what Unlock, Blt and ReleaseDC do after a change
                texture.WriteRaw(0, 0, (texture.ReadRaw(0, 0) ^ 0x5A5A5A) & mask);
                texture.Touch();
            }
            RasterState st;
            st.colorKey = pick(0, 4) != 0;
            st.alphaBlend = pick(0, 5) != 0;
            const bool demo = pick(0, 2) == 0;
            st.srcBlend = demo ? DWORD{D3DBLEND_ONE} : static_cast<DWORD>(pick(1, 11));
            st.destBlend = demo ? DWORD{pick(0, 1) ? D3DBLEND_DESTALPHA : D3DBLEND_ONE} : static_cast<DWORD>(pick(1, 11));
            if (pick(0, 3) == 0) st.colorOp = static_cast<DWORD>(pick(1, 4));
            st.alphaOp = static_cast<DWORD>(pick(1, 4));
            D3DCOLOR color = pick(0, 1) ? 0xFFFFFFFF : static_cast<D3DCOLOR>(rng());
            const int sw = draw % 2 ? pick(1, 40) : evenW, sh = draw % 2 ? pick(1, 40) : evenH;
            const float x = pick(-sw - 2, w + 2), y = pick(-sh - 2, h + 2);
            std::vector<D3DTLVERTEX> v = Quad(x, y, x + sw, y + sh, color);
            if (pick(0, 9) == 0) v[3].color ^= 0x00102030;  // Gouraud: general path in both runs
            standin::SetRasterFastPaths(false);
            Draw(general, &texture, st, v);
            standin::SetRasterFastPaths(true);
            unsigned long before = standin::RasterFastDraws();
            Draw(fast, &texture, st, v);
            rectDraws += standin::RasterFastDraws() - before;
            additive565 += dl.bitsPerPixel == 16 && st.alphaBlend && demo;
            ASSERT_TRUE(general.pixels == fast.pixels)
                << "round " << round << " draw " << draw << " target " << dl.bitsPerPixel << " texture " << tl.bitsPerPixel
                << " " << texture.width << "x" << texture.height << " sprite " << sw << "x" << sh << " at " << x << ","
                << y << " blend " << st.alphaBlend << " " << st.srcBlend << "/" << st.destBlend;
        }
    }
    // The comparison is only worth something if most draws took the fast path.
    EXPECT_GT(rectDraws, kCases * 8ul / 10);
    EXPECT_GT(additive565, kCases / 10);
    faults::Reset();
}
