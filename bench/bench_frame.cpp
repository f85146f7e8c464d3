// The demo's hot path on the stand-in: a whole frame (clear, advance the
// scroll, one 22 x 22 additive sprite per lit particle, present headless
// without capture) at the average load on one and on two drawing threads,
// how the cost grows with the number of sprites, and the rasteriser alone
// (recording, each build of the additive kernel, and choosing among them).
// Counters: frames/s and sprites/s (items/s).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/arrays.h"
#include "core/runtime.h"
#include "demo/scroller.h"
#include "platform/api.h"
#include "platform/faults.h"
#include "platform/raster.h"
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

// Frames drawn by a device with `threads` drawing threads: a new device is
// made for the run (the runtime makes one when it is marked as needed).
void UseDrawingThreads(int threads) {
    setenv("RINGSCROLLER_THREADS", std::to_string(threads).c_str(), 1);
    sprites3D.deviceNeeded = 1;
}

void DrawLitParticles(long long& sprites) {
    const Particle* p = scroller.particles;
    for (int32_t i = 0; i < scroller.particleCount; ++i) {
        if (p[i].brightness != 0.0f) {
            DrawSprite3D(1, static_cast<int32_t>(p[i].x), static_cast<int32_t>(p[i].y), 255);
            ++sprites;
        }
    }
}

void DemoFrame(benchmark::State& state, bool fast, const char* kernel = nullptr) {
    Demo& demo = TheDemo();
    if (!demo.ready) {
        state.SkipWithError("the runtime could not be set up");
        return;
    }
    UseDrawingThreads(static_cast<int>(state.range(0)));
    standin::SetRasterFastPaths(fast);
    standin::SetRasterKernel(kernel);
    long long sprites = 0;
    for (auto _ : state) {
        FlipBuffers();
        ClearScreen(0, 0, 0);
        AdvanceScroll();
        Begin3D();
        ResizeSprite3D(1, 22, 22);
        SetSprite3DBlend(2, 7);
        DrawLitParticles(sprites);
        End3D();
    }
    standin::SetRasterFastPaths(true);
    standin::SetRasterKernel(nullptr);
    state.SetItemsProcessed(sprites);
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["lit"] = static_cast<double>(sprites) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
    state.SetLabel(demo.loadedBitmap ? "glimrotan.bmp" : "built 22x22 texture");
}

void BM_DemoFrame(benchmark::State& state) { DemoFrame(state, true); }
void BM_DemoFrameGeneralPath(benchmark::State& state) { DemoFrame(state, false); }

// A frame with a fixed number of sprites at the ring's positions, on two threads.
void BM_FrameWithSprites(benchmark::State& state) {
    Demo& demo = TheDemo();
    if (!demo.ready) {
        state.SkipWithError("the runtime could not be set up");
        return;
    }
    UseDrawingThreads(2);
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

// The rasteriser alone, on one thread, for the frame's lit particles:
// recording the draws (`draw` false) or recording and drawing them with one
// build of the additive kernel.
void RasterFrame(benchmark::State& state, const char* kernel, bool draw) {
    Demo& demo = TheDemo();
    if (!demo.ready) {
        state.SkipWithError("the runtime could not be set up");
        return;
    }
    standin::Surface& target = *standin::SurfaceOf(screen.backBuffer);
    const standin::Surface* texture = standin::SurfaceOf(SpriteSurface(sprites.spriteTable[1]));
    standin::RasterState st{true, D3DBLEND_ONE, D3DBLEND_DESTALPHA, true};
    st.alphaOp = D3DTOP_SELECTARG2;
    std::vector<D3DTLVERTEX> quads;
    for (int32_t i = 0; i < scroller.particleCount; ++i) {
        const Particle& q = scroller.particles[i];
        if (q.brightness == 0.0f) continue;
        const float x = static_cast<float>(static_cast<int32_t>(q.x)), y = static_cast<float>(static_cast<int32_t>(q.y));
        for (int c = 0; c < 4; ++c)
            quads.push_back(D3DTLVERTEX{x + 22.0f * (c & 1), y + 22.0f * (c >> 1), 0, 1, 0xFFFFFFFF, 0,
                                        static_cast<float>(c & 1), static_cast<float>(c >> 1)});
    }
    standin::SetRasterKernel(kernel);
    standin::DrawQueue queue;
    for (auto _ : state) {
        std::fill(target.pixels.begin(), target.pixels.end(), BYTE{0});
        for (size_t k = 0; k < quads.size(); k += 4) queue.Add(target, texture, st, &quads[k], 4);
        if (draw) queue.Finish(nullptr);
        else queue.Discard();
    }
    standin::SetRasterKernel(nullptr);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(quads.size() / 4));
}

void BM_RasterRecordOnly(benchmark::State& state) { RasterFrame(state, nullptr, false); }

// What choosing the kernel costs a device the first time it draws.
void BM_KernelCalibration(benchmark::State& state) {
    std::vector<standin::AddKernelTime> times;
    for (auto _ : state) benchmark::DoNotOptimize(&standin::CalibrateAddKernels(times));
    state.SetLabel(standin::CalibrateAddKernels(times).name);
}

// For each build of the kernel this CPU runs: the rasteriser alone, and the
// whole frame on two threads (what a CPU without the faster builds would see).
const bool kernelsRegistered = [] {
    size_t count;
    const standin::AddKernel* kernels = standin::AddKernels(count);
    for (size_t i = 0; i < count; ++i) {
        if (!kernels[i].runs()) continue;
        const char* name = kernels[i].name;
        benchmark::RegisterBenchmark((std::string("BM_RasterFrame/") + name).c_str(),
                                     [name](benchmark::State& s) { RasterFrame(s, name, true); })
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("BM_DemoFrame/") + name).c_str(),
                                     [name](benchmark::State& s) { DemoFrame(s, true, name); })
            ->ArgName("threads")
            ->Arg(2)
            ->Unit(benchmark::kMicrosecond);
    }
    return true;
}();

}  // namespace

BENCHMARK(BM_DemoFrame)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DemoFrameGeneralPath)->ArgName("threads")->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameWithSprites)->Arg(0)->Arg(1000)->Arg(2500)->Arg(5000)->Arg(10880)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RasterRecordOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KernelCalibration)->Unit(benchmark::kMillisecond);
