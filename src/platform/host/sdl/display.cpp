// The host display behind the stand-in's primary surface: an SDL2 window
// (full screen on the desktop, or a plain window) or nothing at all
// (headless), plus frame capture to PNG files with libpng.
//
// Settings come from the environment the first time the display is asked
// for (Kind or Present), so a test can set them after resetting the
// display. A display that cannot be opened falls back to headless, and says
// so: the program runs on and its frames still reach the capture folder.
//
// "In front", as the stand-in's activation: a window is active while it is
// shown and not minimised, whether or not it has the keyboard focus (another
// window beside it may be typed into while the ring goes on turning); only
// the keyboard needs the focus. Full screen keeps Windows' meaning: losing
// the focus is deactivation.
#include <SDL.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/environment.h"
#include "platform/host/host.h"
#include "platform/host/pixels.h"
#include "platform/host/sdl/pacing.h"
#include "platform/standin.h"

namespace standin::host {

namespace {

struct DisplayState {
    bool resolved = false;
    bool testDefaults = false;  // after ResetDisplay: unset means headless
    DisplayKind kind = DisplayKind::headless;

    std::string captureDir;
    unsigned long captureEvery = 1;
    unsigned long long presented = 0;

    bool videoInit = false;
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    int textureWidth = 0, textureHeight = 0;
    FramePacer pacer;
    bool cursorShown = true;

    // The window as its events left it; a new window is shown and focused.
    bool focused = true;
    bool minimised = false;
    bool hidden = false;
    // What the stand-in was last told.
    bool active = true;
    bool keyboard = true;

    PixelConverter pixels;
    std::vector<BYTE> rgb;
};

DisplayState state;

void Trace(const std::string& what) {
    if (TraceOn()) std::fprintf(stderr, "ringscroller: display: %s\n", what.c_str());
}

void CloseVideo() {
    if (state.texture) SDL_DestroyTexture(state.texture);
    if (state.renderer) SDL_DestroyRenderer(state.renderer);
    if (state.window) SDL_DestroyWindow(state.window);
    state.texture = nullptr;
    state.renderer = nullptr;
    state.window = nullptr;
    state.textureWidth = state.textureHeight = 0;
    if (state.videoInit) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    state.videoInit = false;
}

std::string DisplayName() {
    for (const char* variable : {"WAYLAND_DISPLAY", "DISPLAY"}) {
        const char* name = std::getenv(variable);
        if (name && *name) return name;
    }
    return "";
}

// Said always, not only when tracing: a program that meant to show a window
// and runs without one must not do so silently.
void CannotOpenDisplay(const std::string& why) {
    std::fprintf(stderr, "ringscroller: cannot open display \"%s\" (%s); running headless\n", DisplayName().c_str(),
                 why.c_str());
}

void FallBackToHeadless(const std::string& why) {
    CannotOpenDisplay(why + (state.videoInit ? std::string(": ") + SDL_GetError() : std::string()));
    CloseVideo();
    state.kind = DisplayKind::headless;
}

bool HasDisplayServer() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

// SDL falls back to drivers that show nothing when no display answers (a
// stale DISPLAY from an ssh session): offscreen, then dummy and evdev when
// asked for. Only a driver the user named in SDL_VIDEODRIVER may be one.
bool ShowsNothing(const char* driver) {
    const char* wanted = std::getenv("SDL_VIDEODRIVER");
    if (wanted && *wanted) return false;
    if (!driver) return true;
    for (const char* blind : {"offscreen", "dummy", "evdev"}) {
        if (std::strcmp(driver, blind) == 0) return true;
    }
    return false;
}

void Resolve() {
    if (state.resolved) return;
    state.resolved = true;

    const char* wanted = std::getenv("RINGSCROLLER_DISPLAY");
    std::string want = wanted ? wanted : "";
    if (want == "headless") {
        state.kind = DisplayKind::headless;
    } else if (want == "window") {
        state.kind = DisplayKind::window;
    } else if (want == "fullscreen") {
        state.kind = DisplayKind::fullscreen;
    } else {
        if (!want.empty()) Trace("unknown RINGSCROLLER_DISPLAY \"" + want + "\"");
        state.kind = !state.testDefaults && HasDisplayServer() ? DisplayKind::fullscreen : DisplayKind::headless;
    }
    if (state.kind != DisplayKind::headless) {
        // The keyboard's own Ctrl-C and SIGTERM handlers are in place from
        // process start; SDL's would take over once the first has fired and
        // keep a second signal from ending a program that hangs.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            CannotOpenDisplay(SDL_GetError());
            state.kind = DisplayKind::headless;
        } else if (ShowsNothing(SDL_GetCurrentVideoDriver())) {
            CannotOpenDisplay(std::string("SDL found only its ") + SDL_GetCurrentVideoDriver() + " driver");
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
            state.kind = DisplayKind::headless;
        } else {
            state.videoInit = true;
        }
    }

    const char* dir = std::getenv("RINGSCROLLER_CAPTURE");
    state.captureDir = dir ? dir : "";
    if (!state.captureDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(state.captureDir, error);
        if (error) {
            Trace("capture folder " + state.captureDir + ": " + error.message());
            state.captureDir.clear();
        }
    }
    state.captureEvery = 1;
    if (const char* every = std::getenv("RINGSCROLLER_CAPTURE_EVERY")) {
        if (long n = PositiveCount(every)) state.captureEvery = static_cast<unsigned long>(n);
        else Trace(std::string("ignoring RINGSCROLLER_CAPTURE_EVERY \"") + every + "\"");
    }
}

bool OpenWindow(int width, int height) {
    // Made hidden and shown once the renderer exists: SDL makes the window
    // again for a renderer that needs another kind, and a shown one would
    // flash up, vanish and come back.
    Uint32 flags = SDL_WINDOW_HIDDEN;
    int w = width, h = height;
    int x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED;
    if (state.kind == DisplayKind::fullscreen) {
        // The desktop keeps its own mode; the picture is scaled into it.
        // Desktop full screen is a request to the window manager, and an X
        // server without one (a kiosk, a recording) leaves the window at its
        // own size while SDL draws for the whole screen. A borderless window
        // already covering the display looks the same either way.
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS;
        // Losing the focus deactivates the program (it presents nothing and
        // its video memory is lost, as on Windows); the window itself stays
        // where it is. The desktop's mode was never changed, so there is
        // nothing to give back by minimising, and a second monitor's user
        // keeps the picture of the last frame. Said outright rather than
        // left to SDL's default, which depends on the kind of full screen.
        SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
        SDL_Rect bounds;
        if (SDL_GetDisplayBounds(0, &bounds) == 0 && bounds.w > 0 && bounds.h > 0) {
            x = bounds.x;
            y = bounds.y;
            w = bounds.w;
            h = bounds.h;
        }
    } else {
        SDL_Rect usable;
        if (SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.w > 0 && usable.h > 0) {
            int factor = std::max(1, std::min(usable.w / width, usable.h / height));
            w = width * factor;
            h = height * factor;
        }
    }
    state.window = SDL_CreateWindow("ringscroller", x, y, w, h, flags);
    if (!state.window) return false;
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    state.renderer = SDL_CreateRenderer(state.window, -1, SDL_RENDERER_PRESENTVSYNC);
    if (!state.renderer) state.renderer = SDL_CreateRenderer(state.window, -1, 0);
    if (!state.renderer) return false;
    SDL_RendererInfo info;
    bool vsync = SDL_GetRendererInfo(state.renderer, &info) == 0 && (info.flags & SDL_RENDERER_PRESENTVSYNC);
    SDL_DisplayMode mode;
    int display = SDL_GetWindowDisplayIndex(state.window);
    int refresh = display >= 0 && SDL_GetCurrentDisplayMode(display, &mode) == 0 ? mode.refresh_rate : 0;
    state.pacer.Start(vsync, refresh);
    Trace("vsync " + std::string(vsync ? "on" : "off") + ", display at " + std::to_string(refresh) + " Hz: " +
          (state.pacer.Locked() ? "each frame presented " + std::to_string(state.pacer.PresentsPerFrame()) + " times"
                                : std::string("frames on a 60 Hz clock")));
    SDL_ShowCursor(state.cursorShown ? SDL_ENABLE : SDL_DISABLE);
    SDL_ShowWindow(state.window);
    return true;
}

bool PrepareTexture(int width, int height) {
    if (state.texture && state.textureWidth == width && state.textureHeight == height) return true;
    if (state.texture) SDL_DestroyTexture(state.texture);
    state.texture = SDL_CreateTexture(state.renderer, SDL_PIXELFORMAT_RGB24, SDL_TEXTUREACCESS_STREAMING, width, height);
    if (!state.texture) return false;
    state.textureWidth = width;
    state.textureHeight = height;
    // Logical size: SDL scales with the aspect ratio kept, bars around.
    SDL_RenderSetLogicalSize(state.renderer, width, height);
    return true;
}

bool WritePng(const std::string& path, int width, int height, const BYTE* rgb) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        std::fclose(file);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Captures are written every frame; favour speed over size.
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) png_write_row(png, const_cast<BYTE*>(rgb + static_cast<size_t>(y) * width * 3));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

void SleepUntil(FramePacer::Time when) {
    if (when > FramePacer::Clock::now()) std::this_thread::sleep_until(when);
}

void Show(const Surface& s) {
    if (!state.window && !OpenWindow(s.width, s.height)) {
        FallBackToHeadless("cannot open the window");
        return;
    }
    if (!PrepareTexture(s.width, s.height)) {
        FallBackToHeadless("cannot make the screen texture");
        return;
    }
    SDL_UpdateTexture(state.texture, nullptr, state.rgb.data(), s.width * 3);
    SleepUntil(state.pacer.PresentAt(FramePacer::Clock::now()));
    // What a present leaves in the back buffer is undefined: each one is
    // drawn whole.
    for (int i = 0; i < state.pacer.PresentsPerFrame(); ++i) {
        SDL_SetRenderDrawColor(state.renderer, 0, 0, 0, 255);
        SDL_RenderClear(state.renderer);
        SDL_RenderCopy(state.renderer, state.texture, nullptr, nullptr);
        SDL_RenderPresent(state.renderer);
    }
    state.pacer.Presented(FramePacer::Clock::now());
}

// Tells the stand-in what the window's state now means: activation (shown
// and not minimised; in full screen also focused) and the keyboard (focused
// and shown). Called after every window event, so a focus lost and won back
// within one frame still deactivates, as on Windows.
void WindowChanged() {
    const bool shown = !state.minimised && !state.hidden;
    const bool active = shown && (state.kind != DisplayKind::fullscreen || state.focused);
    const bool keyboard = shown && state.focused;
    if (keyboard != state.keyboard) {
        state.keyboard = keyboard;
        HostKeyboardFocusChanged(keyboard);
    }
    if (active != state.active) {
        state.active = active;
        HostActivationChanged(active);
    }
}

}  // namespace

DisplayKind Kind() {
    Resolve();
    return state.kind;
}

bool VideoActive() { return state.videoInit; }

void Present(const Surface& primary) {
    Resolve();
    ++state.presented;
    bool capture = !state.captureDir.empty() && (state.presented - 1) % state.captureEvery == 0;
    bool show = state.kind != DisplayKind::headless;
    if ((!capture && !show) || primary.width <= 0 || primary.height <= 0 || primary.pixels.empty()) return;
    state.pixels.ToRgb(primary, state.rgb);
    if (capture) {
        char name[40];
        std::snprintf(name, sizeof name, "frame-%06llu.png", state.presented);
        std::string path = state.captureDir + "/" + name;
        if (!WritePng(path, primary.width, primary.height, state.rgb.data())) Trace("cannot write " + path);
    }
    if (show) Show(primary);
}

void PumpEvents() {
    if (!state.videoInit) return;
    SDL_PumpEvents();
    SDL_Event e;
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_QUIT, SDL_QUIT) > 0) RequestEscape();
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT) > 0) {
        switch (e.window.event) {
            case SDL_WINDOWEVENT_FOCUS_GAINED: state.focused = true; break;
            case SDL_WINDOWEVENT_FOCUS_LOST: state.focused = false; break;
            case SDL_WINDOWEVENT_MINIMIZED: state.minimised = true; break;
            case SDL_WINDOWEVENT_RESTORED:
            case SDL_WINDOWEVENT_MAXIMIZED: state.minimised = false; break;
            case SDL_WINDOWEVENT_HIDDEN: state.hidden = true; break;
            case SDL_WINDOWEVENT_SHOWN: state.hidden = false; break;
            case SDL_WINDOWEVENT_CLOSE: RequestEscape(); break;
            case SDL_WINDOWEVENT_EXPOSED: HostExposed(); break;
            default: break;
        }
        WindowChanged();
    }
    // Key events stay queued for the keyboard; nothing else is wanted.
    SDL_FlushEvents(SDL_FIRSTEVENT + 1, SDL_KEYDOWN - 1);
    SDL_FlushEvents(SDL_KEYUP + 1, SDL_LASTEVENT);
}

void MessageLoopPassed(bool active) {
    // An active program waits in its presents. An inactive one presents
    // nothing, so it waits here for the mode's next tick instead of drawing
    // unseen frames as fast as it can; headless never waits.
    if (active || !state.window) return;
    SleepUntil(state.pacer.NextTick(FramePacer::Clock::now()));
}

void CursorShown(bool shown) {
    state.cursorShown = shown;
    if (state.window) SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
}

void ResetDisplay() {
    CloseVideo();
    state = DisplayState{};
    state.testDefaults = true;
}

void Shutdown() {
    CloseAudio();
    CloseVideo();
    SDL_Quit();
}

}  // namespace standin::host
