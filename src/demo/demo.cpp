// STUB: replaced by the demo's set-up and frame loop. For now: a number of
// scroll steps over the laid-out ring.
#include "demo/demo.h"
#include "demo/scroller.h"
void RunDemo() {
    AllocParticles();
    AllocGlyphTable();
    LayOutRing();
    StartScroll();
    for (int i = 0; i < 91 * 26; ++i) AdvanceScroll();
}
