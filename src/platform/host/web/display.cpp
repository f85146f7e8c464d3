// The web host's display: the primary surface on the page's canvas, scaled
// to the page by its style sheet (aspect kept, crisp pixels), and the page's
// focus as the window's. The runtime's frame loop stays a blocking loop:
// Present hands the frame to the canvas, then yields to the browser until
// its next animation frame (ASYNCIFY), which is also the pacing.
#include <emscripten.h>

#include <vector>

#include "platform/host/devices.h"
#include "platform/host/host.h"
#include "platform/host/pixels.h"
#include "platform/host/web/page.h"
#include "platform/standin.h"

namespace {

// The canvas gets each frame as RGBA; the page is told of it with a `frame`
// event on the canvas: {frame: presented count from 1, drawMs: the program's
// own time for the frame, from the end of the last wait to this Present,
// presentMs: this Present's conversion and canvas update}.
EM_JS(void, PutFrame, (const BYTE* rgba, int width, int height, double frame, double presentStart), {
    const canvas = Module.canvas;
    if (canvas.width !== width || canvas.height !== height) {
        canvas.width = width;
        canvas.height = height;
    }
    Module.context = Module.context || canvas.getContext('2d', {alpha: false});
    Module.context.putImageData(new ImageData(new Uint8ClampedArray(HEAPU8.buffer, rgba, width * height * 4), width, height), 0, 0);
    const drawMs = Module.resumedAt === undefined ? 0 : presentStart - Module.resumedAt;
    const presentMs = performance.now() - presentStart;
    canvas.dispatchEvent(new CustomEvent('frame', {detail: {frame: frame, drawMs: drawMs, presentMs: presentMs}}));
});

// A hidden tab has no animation frames; the program simply waits there.
EM_ASYNC_JS(void, WaitForAnimationFrame, (), {
    await new Promise(resolve => requestAnimationFrame(resolve));
    Module.resumedAt = performance.now();
});

EM_JS(int, PageInFront, (), {
    return document.visibilityState === 'visible' && document.hasFocus() ? 1 : 0;
});

EM_JS(void, SetCanvasCursor, (int shown), { Module.canvas.style.cursor = shown ? "auto" : "none"; });

struct DisplayState {
    unsigned long long presented = 0;
    bool inFront = true;  // as the stand-in starts
    standin::host::PixelConverter pixels;
    std::vector<BYTE> rgba;
};

DisplayState state;

}  // namespace

namespace standin::host {

// The page is the display: the mode the program sets, scaled to the page.
DisplayKind Kind() { return DisplayKind::fullscreen; }

bool VideoActive() { return true; }

void Present(const Surface& primary) {
    const double start = emscripten_get_now();
    ++state.presented;
    if (primary.width > 0 && primary.height > 0 && !primary.pixels.empty()) {
        state.pixels.ToRgba(primary, state.rgba);
        PutFrame(state.rgba.data(), primary.width, primary.height, static_cast<double>(state.presented), start);
    }
    WaitForAnimationFrame();
}

void PumpEvents() {
    const bool inFront = PageInFront() != 0;
    if (inFront != state.inFront) {
        state.inFront = inFront;
        ForgetHeldKeys();
        HostFocusChanged(inFront);
    }
}

void MessageLoopPassed(bool active) {
    // A program behind another window draws its frames unseen and presents
    // none, so it never waits in Present; here it waits instead, or the page
    // would never get its turn again (and a hidden one waits until shown).
    if (!active) WaitForAnimationFrame();
}

void CursorShown(bool shown) { SetCanvasCursor(shown ? 1 : 0); }

void ResetDisplay() { state = DisplayState{}; }

void Shutdown() {
    CloseAudio();
    StopKeyboard();
}

}  // namespace standin::host
