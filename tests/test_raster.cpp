// The stand-in's software rasteriser on memory surfaces: Direct3D's rules on
// the general path and the fast paths alike (coverage and the top-left rule,
// point sampling, colour key, clipping, the blends the runtime selects), the
// fast paths giving exactly the general path's pixels with every build of
// the additive kernel and any number of drawing threads, drawing while a
// scene is recorded giving the same bytes, and the kernel's choice.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "platform/faults.h"
#include "platform/raster.h"
#include "platform/standin.h"
#include "platform/surface.h"

using standin::PixelLayout;
using standin::RasterState;
using standin::Surface;

namespace {

// The layouts a display can have; textures always have the display's.
const PixelLayout kLayouts[] = {{8, 0, 0, 0},
                                {15, 0x7C00, 0x03E0, 0x001F},
                                {16, 0xF800, 0x07E0, 0x001F},
                                {16, 0x001F, 0x07E0, 0xF800},
                                {24, 0xFF0000, 0x00FF00, 0x0000FF},
                                {32, 0x0000FF, 0x00FF00, 0xFF0000}};
const PixelLayout &k565 = kLayouts[2], &k24 = kLayouts[4], k32{32, 0xFF0000, 0x00FF00, 0x0000FF};

// Sets every pixel (x, y) to raw(x, y).
template <class Raw>
void Paint(Surface& s, Raw raw) {
    for (int i = 0; i < s.width * s.height; ++i) s.WriteRaw(i % s.width, i / s.width, raw(i % s.width, i / s.width));
    s.Touch();
}
// A surface with every pixel `raw`.
Surface Make(int w, int h, const PixelLayout& layout, DWORD raw = 0, DWORD caps = 0) {
    Surface s;
    standin::InitSurface(s, w, h, layout, caps);
    Paint(s, [raw](int, int) { return raw; });
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

// What DrawSprite3D sets: colour key on, alpha from the diffuse colour.
RasterState Sprites(DWORD src, DWORD dest) {
    RasterState st{true, src, dest, true};
    st.alphaOp = D3DTOP_SELECTARG2;
    return st;
}
const RasterState kDemo = Sprites(D3DBLEND_ONE, D3DBLEND_DESTALPHA);
const RasterState kClassic = Sprites(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);  // Begin3D's

// A 32-bit pixel's colour as 0xRRGGBB.
DWORD Rgb(const Surface& s, int x, int y) { return s.ReadRaw(x, y) & 0xFFFFFF; }

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
        Draw(target, &texture, kDemo, q);
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
        Draw(quad, &texture, kDemo, v);
        ASSERT_EQ(std::count(quad.pixels.begin(), quad.pixels.end(), 0x20), 0) << "drawn twice, round " << round;
        EXPECT_GT(std::count(quad.pixels.begin(), quad.pixels.end(), 0x10), 3 * 300);
    }
}

TEST_P(RasterTest, PointSamplingPicksTexelFloorOfUTimesWidthAndWraps) {
    // 16 texels across 22 pixels: pixel i shows texel floor(i * 16 / 22).
    auto texel = [](int x, int y) { return static_cast<DWORD>(0x010000 * (x + 1) + 0x000100 * (y + 1)); };
    Surface texture = Tex(16, 16, k32, 0), target = Make(40, 40, k32);
    Paint(texture, texel);
    Draw(target, &texture, RasterState{}, Quad(3, 5, 25, 27));
    for (int i = 0; i < 22 * 22; ++i)
        ASSERT_EQ(Rgb(target, 3 + i % 22, 5 + i / 22), texel(i % 22 * 16 / 22, i / 22 * 16 / 22)) << i;
    // Minified 4 -> 3 picks texels 0, 1, 2; u from 0 to 2 over 8 pixels wraps round.
    Surface small = Tex(4, 1, k32, 0), out = Make(12, 1, k32);
    Paint(small, [](int x, int) { return 0x10u * (x + 1); });
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
    RasterState keyed{false, D3DBLEND_ONE, D3DBLEND_ZERO, true};
    Draw(target, &texture, keyed, Quad(0, 0, 4, 1));
    Draw(target, &texture, RasterState{}, Quad(0, 1, 4, 2));
    texture.hasColorKey = false;
    Draw(target, &texture, keyed, Quad(0, 2, 4, 3));
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(target.ReadRaw(1, y), y == 0 ? 0x001Fu : 0u) << y;
        EXPECT_EQ(target.ReadRaw(2, y), 0xF800u) << y;
    }
}

TEST_P(RasterTest, TheRuntimesBlendsOnA565Display) {
    const auto raw = [](COLORREF c) { return standin::ColorToPixel(k565, c); };
    struct Case { const char* what; RasterState state; D3DCOLOR diffuse; DWORD texel, background, want; } cases[] = {
        // Fields widened, added, saturated: red 0x84 + 0xA5 and blue 0x42 +
        // 0xFF saturate, green 0x82 + 0x10 = 0x92.
        {"the demo's ONE / DESTALPHA adds", kDemo, 0xFFFFFFFF, raw(0x408080), raw(0xFF10A0), 31u << 11 | 36u << 5 | 31},
        {"the diffuse colour modulates the texel", kDemo, 0xFF808080, 0xFFFF, 0, 16u << 11 | 32u << 5 | 16},
        // 255 * 127 / 255 red left, 255 * 128 / 255 blue added.
        {"Begin3D's SRCALPHA / INVSRCALPHA mixes by the diffuse alpha", kClassic, 0x80FFFFFF, 0x001F, 0xF800,
         0x7Fu >> 3 << 11 | 0x80u >> 3},
        {"alpha 0 leaves the background", kClassic, 0x00FFFFFF, 0x001F, 0xF800, 0xF800},
    };
    for (const Case& c : cases) {
        Surface texture = Tex(2, 2, k565, c.texel), target = Make(6, 2, k565, c.background);
        Draw(target, &texture, c.state, Quad(1, 0, 5, 1, c.diffuse));
        EXPECT_EQ(target.ReadRaw(2, 0), c.want) << c.what;
        for (auto [x, y] : {std::pair{0, 0}, {5, 0}, {2, 1}})
            EXPECT_EQ(target.ReadRaw(x, y), c.background) << c.what << ": drawn outside the quad at " << x << "," << y;
    }
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

// The fast paths must give exactly the general path's pixels. Random
// textures (changed between draws, so a stale stretched copy shows), sizes,
// positions (partly off every side, and near the right edge where a vector
// runs out of row), layouts, keys, colours and blends are drawn one by one on
// the general path, then recorded and rasterised in bands with every kernel
// build this CPU runs and one to four threads.
TEST(RasterFastPath, BitIdenticalToTheGeneralPathForEveryKernelAndThreadCount) {
    faults::Reset();
    size_t kernelCount;
    const standin::AddKernel* kernels = standin::AddKernels(kernelCount);
    standin::Workers pools[] = {standin::Workers(1), standin::Workers(2), standin::Workers(3), standin::Workers(4)};
    std::mt19937 rng(20240);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    unsigned long recorded = 0, rectDraws = 0;
    int additive = 0, kernelsRun = 0;
    for (int round = 0; round < 300; ++round) {
        const PixelLayout& layout = round % 2 ? k565 : kLayouts[pick(0, 5)];
        const DWORD mask = static_cast<DWORD>((1ull << (8 * layout.BytesPerPixel())) - 1);
        Surface texture = Tex(pick(1, 24), pick(1, 24), layout, 0);
        texture.hasColorKey = pick(0, 3) != 0;
        std::vector<DWORD> texels[2];  // before and after the change
        for (int i = 0; i < texture.width * texture.height; ++i) texels[0].push_back(pick(0, 3) == 0 ? 0 : rng() & mask);
        texels[1] = texels[0];
        texels[1][0] ^= 0x5A5A5A & mask;
        const int w = pick(40, 130), h = pick(20, 60);
        Surface start = Make(w, h, layout);
        for (BYTE& b : start.pixels) b = static_cast<BYTE>(rng());
        struct Sprite { RasterState state; std::vector<D3DTLVERTEX> quad; };
        std::vector<Sprite> draws;
        const int evenW = pick(1, 40), evenH = pick(1, 40);  // even draws share a size: stretched copies get reused
        for (int k = 0; k < 12; ++k) {
            const int kind = pick(0, 3);
            RasterState st = kind == 0 ? kDemo : kind == 1 ? kClassic : Sprites(pick(1, 11), pick(1, 11));
            st.colorKey = pick(0, 4) != 0;
            st.alphaBlend = pick(0, 7) != 0;
            if (kind == 3) st.colorOp = static_cast<DWORD>(pick(1, 4));
            const D3DCOLOR color = pick(0, 1) ? 0xFFFFFFFF : static_cast<D3DCOLOR>(rng());
            const int sw = k % 2 ? pick(1, 40) : evenW, sh = k % 2 ? pick(1, 40) : evenH;
            const float x = pick(-sw - 2, w + 2), y = pick(-sh - 2, h + 2);
            draws.push_back({st, Quad(x, y, x + sw, y + sh, color)});
            if (pick(0, 9) == 0) {  // Gouraud, or a corner off the rectangle: the general path for both
                D3DTLVERTEX& corner = draws.back().quad[pick(0, 3)];
                float* const moved[] = {&corner.tu, &corner.tv, &corner.sx, &corner.sy};
                const int change = pick(0, 4);
                if (change == 0) corner.color ^= 0x00102030;
                else *moved[change - 1] += change == 3 ? 1.0f : 0.5f;
            }
            additive += layout.bitsPerPixel == 16 && kind == 0 && st.alphaBlend;
        }
        // Draws 0-5, the texture changed (a device finishes its draws first,
        // as at a Lock), draws 6-11.
        // Without workers, one by one; with them, recorded and rasterised at the flushes.
        auto run = [&](standin::Workers* workers) {
            Surface target = start;
            standin::DrawQueue queue;
            for (int half = 0; half < 2; ++half) {
                Paint(texture, [&](int x, int y) { return texels[half][y * texture.width + x]; });
                for (int k = 6 * half; k < 6 * half + 6; ++k) {
                    if (workers) queue.Add(target, &texture, draws[k].state, draws[k].quad.data(), 4);
                    else Draw(target, &texture, draws[k].state, draws[k].quad);
                }
                if (workers) queue.Finish(workers);
            }
            return target;
        };
        standin::SetRasterFastPaths(false);
        const Surface general = run(nullptr);
        standin::SetRasterFastPaths(true);
        for (size_t k = 0; k < kernelCount; ++k) {
            if (!kernels[k].runs()) continue;
            standin::SetRasterKernel(kernels[k].name);
            kernelsRun += round == 0;
            for (standin::Workers& pool : pools) {
                const unsigned long before = standin::RasterFastDraws();
                const Surface fast = run(&pool);
                recorded += 12;
                rectDraws += standin::RasterFastDraws() - before;
                ASSERT_TRUE(general.pixels == fast.pixels)
                    << "round " << round << ", kernel " << kernels[k].name << ", " << pool.Threads() << " threads, "
                    << layout.bitsPerPixel << " bits, " << w << " x " << h;
            }
        }
    }
    // Worth something only if every width was tried and most draws took the fast paths.
    EXPECT_GE(kernelsRun, 3);
    EXPECT_GT(rectDraws, recorded * 8 / 10);
    EXPECT_GT(additive, 300 * 12 / 10);
    faults::Reset();
}

// The build the rasteriser uses is the one that added the calibration scene
// fastest on this CPU, among builds this CPU runs; every width it runs is tried.
TEST(RasterKernel, CalibrationPicksTheQuickestBuildThisCpuRuns) {
    std::vector<standin::AddKernelTime> times;
    const standin::AddKernel& chosen = standin::CalibrateAddKernels(times);
    size_t count;
    const standin::AddKernel* kernels = standin::AddKernels(count);
    const auto mine = std::find_if(times.begin(), times.end(), [&](const auto& t) { return t.kernel == &chosen; });
    ASSERT_TRUE(mine != times.end() && standin::FastestAddKernel().runs()) << chosen.name << " chosen untimed";
    std::vector<int> lanesTimed;
    for (const standin::AddKernelTime& t : times) {
        EXPECT_TRUE(t.kernel >= kernels && t.kernel < kernels + count && t.kernel->runs() && t.microseconds > 0);
        EXPECT_LE(mine->microseconds, t.microseconds) << chosen.name << " chosen, " << t.kernel->name << " quicker";
        lanesTimed.push_back(t.kernel->lanes);
    }
    for (size_t k = 0; k < count; ++k)
        EXPECT_TRUE(!kernels[k].runs() || std::count(lanesTimed.begin(), lanesTimed.end(), kernels[k].lanes))
            << kernels[k].lanes << " lanes never timed";
}

// Start hands a task to another thread and Join waits for it, or takes it
// back before any thread has begun it, in which case it never runs; with no
// thread to take it, Start says so.
TEST(RasterWorkers, StartHandsATaskToAnotherThreadAndJoinWaitsForItOrTakesItBack) {
    standin::Workers alone(1);
    EXPECT_TRUE(!alone.Start([](void*, int) {}, nullptr) && !alone.Join());

    struct Seen { std::atomic<int> runs{0}; std::thread::id thread; };
    const standin::Workers::Task note = [](void* context, int index) {
        Seen& s = *static_cast<Seen*>(context);
        s.thread = std::this_thread::get_id();
        if (index == 0) s.runs.fetch_add(1);
    };
    standin::Workers pool(3);
    int ran = 0, takenBack = 0;
    for (int round = 0; round < 200; ++round) {
        Seen seen;
        ASSERT_TRUE(pool.Start(note, &seen));
        // Every few rounds the task is asked back at once; otherwise it is given time to begin.
        if (round % 4) std::this_thread::sleep_for(std::chrono::microseconds(200));
        const bool joined = pool.Join();
        (joined ? ran : takenBack)++;
        if (!joined) std::this_thread::sleep_for(std::chrono::microseconds(500));
        ASSERT_EQ(seen.runs.load(), joined ? 1 : 0) << (joined ? "Join returned before the task did" : "a task taken back ran")
                                                   << ", round " << round;
        EXPECT_TRUE(!joined || seen.thread != std::this_thread::get_id());
        // Run still reaches every index once, whatever became of the task.
        std::vector<std::atomic<int>> hits(7);
        pool.Run(7, [](void* h, int i) { (*static_cast<std::vector<std::atomic<int>>*>(h))[i].fetch_add(1); }, &hits);
        for (int i = 0; i < 7; ++i) ASSERT_EQ(hits[i].load(), 1) << i;
    }
    EXPECT_GT(ran, 0);
    EXPECT_EQ(ran + takenBack, 200);
}

namespace {

// A glow like the demo's particle on a 5-6-5 display: 16 x 16, black
// (the colour key) outside a disc, drawn 22 x 22 with the demo's blend.
Surface Glow() {
    Surface glow = Tex(16, 16, k565, 0);
    glow.hasColorKey = true;
    Paint(glow, [](int x, int y) {
        const int d2 = (2 * x - 15) * (2 * x - 15) + (2 * y - 15) * (2 * y - 15), level = d2 < 14 * 14 ? 200 - d2 : 0;
        return standin::ColorToPixel(k565, static_cast<COLORREF>(level / 2 | level << 8 | level / 3 << 16));
    });
    return glow;
}

// Sprites at a ring's places as the demo draws them, spoke after spoke; a
// different few of each spoke lit each time round.
std::vector<std::vector<D3DTLVERTEX>> RingSprites(int count, int width, int height) {
    std::vector<std::vector<D3DTLVERTEX>> quads;
    std::mt19937 rng(count);
    for (int angle = 0; static_cast<int>(quads.size()) < count; angle = (angle + 2) % 360)
        for (int j = 0; j < 20 && static_cast<int>(quads.size()) < count; ++j) {
            if (rng() % 4) continue;
            const double t = angle * 3.14159265 / 180, r = 24 + 3 * j;
            const float x = std::floor(width / 2 + r * std::cos(t) - 11), y = std::floor(height / 2 - r * std::sin(t) - 11);
            quads.push_back(Quad(x, y, x + 22, y + 22));
        }
    return quads;
}

// One play of a case onto targets a and b, recorded into one queue and flushed with `workers` (null:
// everything drawn on this thread at the flush), which help while the draws are recorded.
struct Player {
    standin::DrawQueue queue;
    standin::Workers* workers;
    Surface &a, &b;
    const Surface& glow;
    const std::vector<std::vector<D3DTLVERTEX>>& sprites;
    // Records sprites first .. last - 1 with the demo's blend; helped, pauses half way for `pause` microseconds.
    Player& Rec(int first, int last, bool helped = true, int pause = 200, Surface* target = nullptr) {
        for (int i = first; i < last; ++i) {
            if (workers && helped && i == (first + last) / 2)
                std::this_thread::sleep_for(std::chrono::microseconds(pause));
            queue.Add(target ? *target : a, &glow, kDemo, sprites[i].data(), 4);
        }
        return *this;
    }
    Player& Classic(int i) { queue.Add(a, &glow, kClassic, sprites[i].data(), 4); return *this; }
    Player& Finish() { queue.Finish(workers); return *this; }
    Player& Warm() { return Rec(0, 10, false).Finish(); }
};

}  // namespace

// A helper adds a scene's first run of additive sprites to its rows while
// the scene is still being recorded, and finishes them at the flush while
// the recording thread draws the rest. Whatever else happens (a draw of
// another kind, a pause longer than the helper waits, more draws than the
// room kept from the scene before, a discarded scene, another target,
// stopped threads, a third thread), the pixels are those of the same calls
// with everything drawn on one thread at the flush.
TEST(RasterStream, DrawingWhileRecordingGivesTheBytesOfDrawingAtTheFlush) {
    faults::Reset();
    const Surface glow = Glow();
    const auto sprites = RingSprites(4000, 200, 150);
    const standin::RasterHelp before = standin::RasterHelped();
    const std::pair<const char*, void (*)(Player&)> cases[] = {
        {"scenes after scenes", [](Player& p) { for (int s = 0; s < 6; ++s) p.Rec(s * 600, s * 600 + 600).Finish(); }},
        {"a pause longer than the helper waits", [](Player& p) { p.Warm().Rec(0, 1500, true, 5000).Finish(); }},
        {"draws of another kind", [](Player& p) {
             p.Warm().Rec(0, 800).Classic(900).Rec(1000, 1001, false).Classic(1500).Rec(1600, 2000).Finish();
         }},
        {"more draws than the scene before", [](Player& p) { p.Rec(0, 5, false).Finish().Rec(0, 4000).Finish(); }},
        {"a discarded scene", [](Player& p) { p.Warm().Rec(100, 1100).queue.Discard(); p.Rec(2000, 2500).Finish(); }},
        {"another target", [](Player& p) { p.Warm().Rec(0, 1000).Rec(1000, 1100, false, 0, &p.b).Finish(); }},
        {"stopped threads", [](Player& p) {
             if (p.Warm().workers) p.workers->Stop();
             p.Rec(0, 1000).Finish();
         }},
    };
    Surface start[2] = {Make(200, 150, k565), Make(200, 150, k565)};
    std::mt19937 rng(5);
    for (Surface& s : start)
        for (BYTE& b : s.pixels) b = static_cast<BYTE>(rng() & 0x3F);  // dim, so that sums rarely saturate
    auto played = [&](void (*play)(Player&), standin::Workers* workers) {
        std::array<Surface, 2> t{start[0], start[1]};
        { Player p{{}, workers, t[0], t[1], glow, sprites}; play(p); }  // the queue ends before the pixels are read
        return t;
    };
    for (const auto& [what, play] : cases) {
        const auto want = played(play, nullptr);
        ASSERT_NE(want[0].pixels, start[0].pixels) << what << ": nothing drawn";
        for (int threads : {2, 3}) {
            standin::Workers pool(threads);
            const auto got = played(play, &pool);
            EXPECT_TRUE(got[0].pixels == want[0].pixels && got[1].pixels == want[1].pixels) << what << ", " << threads;
        }
    }
    // Worth something only if helpers did add draws while they were
    // recorded, and did finish their rows.
    const standin::RasterHelp after = standin::RasterHelped();
    EXPECT_GT(after.drawsWhileRecording, before.drawsWhileRecording);
    EXPECT_GT(after.scenesFinished, before.scenesFinished);
    faults::Reset();
}
