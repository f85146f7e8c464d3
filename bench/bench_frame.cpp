// The demo's hot path on the stand-in: a whole frame (clear, advance the
// scroll, one 22 x 22 additive sprite per lit particle, present headless
// without capture) at the average load, and how the cost grows with the
// number of sprites. Counters: frames/s and sprites/s (items/s).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "core/arrays.h"
#include "core/runtime.h"
#include "demo/scroller.h"
#include "platform/api.h"
#include "platform/faults.h"
#include "platform/standin.h"
#include "platform/surface.h"
#include "screen/color.h"
#include "screen/present.h"
#include "screen/screen.h"
#include "sprites/sprite3d.h"
#include "sprites/sprite_load.h"
#include "sprites/sprites.h"

namespace {

// A 22 x 22 glow made directly, for when the bitmap cannot be loaded.
bool BuildTextureSprite() {
    DDSURFACEDESC2 d;
    std::memset(&d, 0, sizeof d);
    d.dwSize = sizeof d;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    d.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
    d.dwWidth = d.dwHeight = 22;
    IDirectDrawSurface7* s = nullptr;
    if (!screen.directDraw || screen.directDraw->CreateSurface(&d, &s, nullptr) != DD_OK) return false;
    standin::Surface* mem = standin::SurfaceOf(s);
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 22; ++x) {
            int dx = x - 11, dy = y - 11, r2 = dx * dx + dy * dy;
            int level = r2 >= 121 ? 0 : 255 - r2 * 2;
            mem->WriteRaw(x, y, standin::ColorToPixel(mem->layout, level | (level << 8) | (255u << 16)));
        }
    mem->Touch();
    DDCOLORKEY key{0, 0};
    s->SetColorKey(DDCKEY_SRCBLT, &key);
    SpriteRecord& r = sprites.spriteTable[1];
    r.surface = s;
    r.width = r.height = 22;
    r.bitDepth = 16;
    r.mode = kModeTexture;
    return true;
}

// The runtime as the demo has it after set-up, with a glyph table whose lit
// cells make the ring carry about 2500 lit particles once the text has
// travelled round.
struct Demo {
    bool ready = false;
    bool loadedBitmap = false;

    Demo() {
        unsetenv("RINGSCROLLER_CAPTURE");
        setenv("RINGSCROLLER_DISPLAY", "headless", 1);
        faults::Reset();
        runtime = RuntimeState{};
        CreatePrivateHeap();
        CreateWorkArea();
        if (!InitScreenSystem() || OpenScreen(640, 480, 16, " ") != 1) return;
        InitSprite3DSystem();
        loadedBitmap = LoadSpriteFromFile(1, "glimrotan.bmp", kModeTexture) != nullptr;
        if (!loadedBitmap && !BuildTextureSprite()) return;
        if (MakeSprite3D(1, 1) != 1) return;
        screen.active = 1;
        AllocParticles();
        AllocGlyphTable();
        LayOutRing();
        StartScroll();
        int32_t cells = ArrayBlockOf(scroller.glyphs)->count + 1;
        for (int32_t k = 0; k < cells; ++k) scroller.glyphs[k] = (k * 7 + k / 97) % 100 < 23 ? 255 : 0;
        for (int i = 0; i < 1000; ++i) AdvanceScroll();
        ready = true;
    }

    int Lit() const {
        int n = 0;
        for (int32_t i = 0; i < scroller.particleCount; ++i) n += scroller.particles[i].brightness != 0.0f;
        return n;
    }
};

Demo& TheDemo() {
    static Demo demo;
    return demo;
}

void DemoFrame(benchmark::State& state, bool fast) {
    Demo& demo = TheDemo();
    if (!demo.ready) {
        state.SkipWithError("the runtime could not be set up");
        return;
    }
    standin::SetRasterFastPaths(fast);
    long long sprites = 0;
    for (auto _ : state) {
        FlipBuffers();
        ClearScreen(0, 0, 0);
        AdvanceScroll();
        Begin3D();
        ResizeSprite3D(1, 22, 22);
        SetSprite3DBlend(2, 7);
        const Particle* p = scroller.particles;
        for (int32_t i = 0; i < scroller.particleCount; ++i) {
            if (p[i].brightness != 0.0f) {
                DrawSprite3D(1, static_cast<int32_t>(p[i].x), static_cast<int32_t>(p[i].y), 255);
                ++sprites;
            }
        }
        End3D();
    }
    standin::SetRasterFastPaths(true);
    state.SetItemsProcessed(sprites);
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["lit"] = static_cast<double>(sprites) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
    state.SetLabel(demo.loadedBitmap ? "glimrotan.bmp" : "built 22x22 texture");
}

void BM_DemoFrame(benchmark::State& state) { DemoFrame(state, true); }
void BM_DemoFrameGeneralPath(benchmark::State& state) { DemoFrame(state, false); }

// A frame with a fixed number of sprites at the ring's positions.
void BM_FrameWithSprites(benchmark::State& state) {
    Demo& demo = TheDemo();
    if (!demo.ready) {
        state.SkipWithError("the runtime could not be set up");
        return;
    }
    const int64_t n = state.range(0);
    const Particle* p = scroller.particles;
    const int32_t count = scroller.particleCount;
    for (auto _ : state) {
        FlipBuffers();
        ClearScreen(0, 0, 0);
        Begin3D();
        ResizeSprite3D(1, 22, 22);
        SetSprite3DBlend(2, 7);
        // Past the ring's 10880 particles the positions repeat.
        for (int64_t i = 0; i < n; ++i) {
            const Particle& q = p[(i * 4099) % count];
            DrawSprite3D(1, static_cast<int32_t>(q.x), static_cast<int32_t>(q.y), 255);
        }
        End3D();
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_DemoFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DemoFrameGeneralPath)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameWithSprites)->Arg(0)->Arg(1000)->Arg(2500)->Arg(5000)->Arg(10880)->Unit(benchmark::kMicrosecond);
