// One frame's scroll step: 32 cell reads and a shift of 10848 brightness values.
#include <benchmark/benchmark.h>

#include "core/runtime.h"
#include "demo/scroller.h"
#include "platform/faults.h"

namespace {

void BM_AdvanceScroll(benchmark::State& state) {
    faults::Reset();
    runtime = RuntimeState{};
    scroller = ScrollerState{};
    CreatePrivateHeap();
    CreateWorkArea();
    AllocParticles();
    AllocGlyphTable();
    for (int row = 0; row < 59; ++row)
        for (int k = 0; k < 1024; ++k) GlyphCell(row, k) = (k * 31 + row) % 3 == 0 ? 255 : 0;
    LayOutRing();
    StartScroll();
    for (auto _ : state) {
        AdvanceScroll();
        benchmark::DoNotOptimize(scroller.particles[0].brightness);
    }
    state.SetItemsProcessed(state.iterations());
    faults::Reset();
}
BENCHMARK(BM_AdvanceScroll);

}  // namespace
