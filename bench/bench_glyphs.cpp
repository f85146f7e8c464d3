// The one-time glyph capture: 59 characters drawn on the back buffer and read
// back one pixel at a time (60416 ReadPixel calls) as the demo's set-up does.
#include <benchmark/benchmark.h>

#include "core/runtime.h"
#include "demo/glyphs.h"
#include "demo/scroller.h"
#include "drawing/drawing.h"
#include "drawing/fonts.h"
#include "platform/api.h"
#include "platform/faults.h"
#include "screen/screen.h"
#include "sprites/sprites.h"

namespace {

void BM_CaptureGlyphs(benchmark::State& state) {
    faults::Reset();
    runtime = RuntimeState{};
    scroller = ScrollerState{};
    screen = ScreenState{};
    sprites = SpriteStore{};
    drawing = DrawingContext{};
    fonts = FontTable{};
    CreatePrivateHeap();
    CreateWorkArea();
    runtime.instance = GetModuleHandleA(nullptr);
    InitDrawing();
    InitFonts();
    InitScreenSystem();
    if (OpenScreen(640, 480, 16, " ") != 1) {
        state.SkipWithError("the screen could not be opened");
        return;
    }
    LoadFontFace(0, "Arial Black", 22);
    AllocGlyphTable();
    for (auto _ : state) {
        CaptureGlyphs();
        benchmark::DoNotOptimize(GlyphCell('A' - 32, 500));
    }
    state.SetItemsProcessed(state.iterations() * 59 * 1024);  // pixels read back
    ShutdownScreenSystem();
    faults::Reset();
}
BENCHMARK(BM_CaptureGlyphs)->Unit(benchmark::kMillisecond);

}  // namespace
