// The web host's display: the primary surface on the page's canvas, scaled
// to the page by its style sheet (aspect kept, crisp pixels), and the page's
// visibility and focus as the window's. The runtime's frame loop stays a
// blocking loop: Present hands the frame to the canvas, then yields to the
// browser until the mode's next 60 Hz tick (ASYNCIFY); screen.js has the
// presenters and the pacing.
#include <emscripten.h>

#include <algorithm>
#include <vector>

#include "platform/host/devices.h"
#include "platform/host/host.h"
#include "platform/host/pixels.h"
#include "platform/host/web/page.h"
#include "platform/host/web/rgba.h"
#include "platform/standin.h"

namespace {

EM_JS(int, OpenPresenter, (), {
    Module.screen = screenPresenter(Module.canvas);
    return Module.screen.takes565 ? 1 : 0;
});

// After each frame the canvas gets a `frame` event: {frame: presented count
// from 1, drawMs: the program's own time for the frame, from the end of the
// last wait to this Present, presentMs: this Present's conversion and canvas
// update, path: how the canvas is drawn}. The view over the frame is kept
// while the program's memory stays where it is. x, y, w, h: the part of the
// frame that may differ from the one before.
EM_JS(void, PutFrame, (const void* pixels, int width, int height, int row, int is565, double frame,
                       double presentStart, int x, int y, int w, int h), {
    const length = is565 ? row * (height - 1) + width : width * height * 4;
    let view = Module.frameView;
    if (!view || view.buffer !== HEAPU8.buffer || view.byteOffset !== pixels || view.length !== length ||
        view.BYTES_PER_ELEMENT !== (is565 ? 2 : 1)) {
        view = is565 ? new Uint16Array(HEAPU8.buffer, pixels, length) : new Uint8Array(HEAPU8.buffer, pixels, length);
        Module.frameView = view;
    }
    Module.screen.put(view, width, height, row, x, y, w, h);
    const drawMs = Module.resumedAt === undefined ? 0 : presentStart - Module.resumedAt;
    const presentMs = performance.now() - presentStart;
    Module.canvas.dispatchEvent(new CustomEvent('frame', {detail: {frame: frame, drawMs: drawMs,
                                                                   presentMs: presentMs, path: Module.screen.name}}));
});

// A program that starts behind (a page opened in a background tab) waits
// here before it has presented anything.
EM_ASYNC_JS(void, WaitForTick, (), {
    Module.pacer = Module.pacer || {};
    await waitForScreenTick(Module.pacer);
    Module.resumedAt = performance.now();
});

// Bit 0: the page is visible; bit 1: it has the focus; bit 2: it was hidden
// at some moment since the last look.
EM_JS(int, LookAtPage, (), {
    Module.watcher = Module.watcher || pageWatcher();
    const visible = document.visibilityState === 'visible';
    const seen = (visible ? 1 : 0) | (document.hasFocus() ? 2 : 0) | (Module.watcher.wasHidden ? 4 : 0);
    Module.watcher.wasHidden = false;
    return seen;
});

EM_JS(void, StopWatchingPage, (), {
    if (Module.watcher) Module.watcher.stop();
    Module.watcher = null;
});

EM_JS(void, SetCanvasCursor, (int shown), { Module.canvas.style.cursor = shown ? "auto" : "none"; });

struct DisplayState {
    unsigned long long presented = 0;
    bool opened = false;
    bool takes565 = false;
    // As the stand-in starts: in front, with the keyboard.
    bool active = true;
    bool keyboard = true;
    standin::host::PixelConverter pixels;
    // The frame last put on a 2D canvas, as RGBA, and each of its rows' lit
    // columns; none yet: the next frame goes whole.
    std::vector<BYTE> rgba;
    std::vector<standin::host::Columns> shown;
};

DisplayState state;

bool Is565(const standin::PixelLayout& layout) {
    return layout.bitsPerPixel == 16 && layout.redMask == 0xF800 && layout.greenMask == 0x07E0 &&
           layout.blueMask == 0x001F;
}

// Widening and putting the whole frame is most of a present, and most of the
// frame is the black around the ring. A row's pixels outside its lit columns
// in this frame and in the last one put are black in both, so they are
// neither widened nor put: what the canvas shows there is already right.
void PutChanges(const standin::Surface& primary, double frame, double start) {
    const int width = primary.width, height = primary.height;
    const size_t size = static_cast<size_t>(width) * height * 4;
    if (state.rgba.size() != size || state.shown.size() != static_cast<size_t>(height)) {
        state.rgba.resize(size);
        state.shown.assign(static_cast<size_t>(height), standin::host::Columns{0, width});
    }
    int left = width, right = 0, top = height, bottom = 0;
    for (int y = 0; y < height; ++y) {
        const BYTE* row = primary.Row(y);
        const standin::host::Columns lit = standin::host::LitColumns(row, width);
        standin::host::Columns& shown = state.shown[static_cast<size_t>(y)];
        standin::host::Columns changed = lit;
        if (lit.left == lit.right) {
            changed = shown;
        } else if (shown.left != shown.right) {
            changed.left = std::min(lit.left, shown.left);
            changed.right = std::max(lit.right, shown.right);
        }
        shown = lit;
        if (changed.left == changed.right) continue;
        standin::host::Rgb565RowToRgba(row, changed.left, changed.right,
                                       state.rgba.data() + static_cast<size_t>(y) * width * 4);
        left = std::min(left, changed.left);
        right = std::max(right, changed.right);
        top = std::min(top, y);
        bottom = y + 1;
    }
    PutFrame(state.rgba.data(), width, height, width, 0, frame, start, left, top, std::max(0, right - left),
             std::max(0, bottom - top));
}

}  // namespace

namespace standin::host {

// The page is the display: the mode the program sets, scaled to the page.
DisplayKind Kind() { return DisplayKind::fullscreen; }

bool VideoActive() { return true; }

void Present(const Surface& primary) {
    const double start = emscripten_get_now();
    ++state.presented;
    if (!state.opened) {
        state.opened = true;
        state.takes565 = OpenPresenter() != 0;
    }
    if (primary.width > 0 && primary.height > 0 && !primary.pixels.empty()) {
        const double frame = static_cast<double>(state.presented);
        const bool is565 = Is565(primary.layout);
        if (state.takes565 && is565 && primary.pitch % 2 == 0) {
            PutFrame(primary.pixels.data(), primary.width, primary.height, primary.pitch / 2, 1, frame, start, 0, 0,
                     primary.width, primary.height);
        } else if (is565) {
            PutChanges(primary, frame, start);
        } else {
            state.pixels.ToRgba(primary, state.rgba);
            state.shown.clear();
            PutFrame(state.rgba.data(), primary.width, primary.height, primary.width, 0, frame, start, 0, 0,
                     primary.width, primary.height);
        }
    }
    WaitForTick();
}

// A visible page is in front, as a shown window: it goes on drawing while a
// page around it (or another window) has the focus, and only its keyboard
// needs the focus. A hidden page (another tab, a minimised window) is behind:
// inactive, and its display is lost.
void PumpEvents() {
    const int page = LookAtPage();
    const bool visible = (page & 1) != 0;
    const bool keyboard = visible && (page & 2) != 0;
    if ((page & 4) && visible && state.active) {
        ForgetHeldKeys();
        HostActivationChanged(false);
        state.active = false;
    }
    if (visible != state.active) {
        state.active = visible;
        // Lost and restored, the display starts again from a whole frame.
        state.shown.clear();
        if (!visible) ForgetHeldKeys();
        HostActivationChanged(visible);
    }
    if (keyboard != state.keyboard) {
        state.keyboard = keyboard;
        ForgetHeldKeys();
        HostKeyboardFocusChanged(keyboard);
    }
}

void MessageLoopPassed(bool active) {
    // A program behind presents nothing, so it never waits in Present; it
    // waits here instead, for the mode's next tick, and a hidden page until
    // it is shown.
    if (!active) WaitForTick();
}

void CursorShown(bool shown) { SetCanvasCursor(shown ? 1 : 0); }

void ResetDisplay() { state = DisplayState{}; }

void Shutdown() {
    CloseAudio();
    StopKeyboard();
    StopWatchingPage();
}

}  // namespace standin::host
