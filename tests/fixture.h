// Shared set-up for the unit tests: every test starts from a process-start
// state of both the stand-in platform and the runtime's own records.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/arrays.h"
#include "core/runtime.h"
#include "core/strings.h"
#include "demo/scroller.h"
#include "drawing/drawing.h"
#include "drawing/fonts.h"
#include "input/keyboard.h"
#include "platform/faults.h"
#include "platform/gdi_internal.h"
#include "platform/host/host.h"
#include "platform/standin.h"
#include "platform/surface.h"
#include "screen/color.h"
#include "screen/present.h"
#include "screen/screen.h"
#include "screen/window.h"
#include "sound/sound.h"
#include "sprites/sprite3d.h"
#include "sprites/sprite_load.h"
#include "sprites/sprites.h"

using Calls = std::vector<std::string>;

// The particle bitmap as the source tree holds it.
constexpr char kParticleBitmap[] = RINGSCROLLER_SOURCE_DIR "/assets/glimrotan.bmp";

// Zeroes every runtime record, as at process start, with the private heap and the work area made.
// The platform is reset first, so nothing the old records pointed at is still alive.
inline void ResetRuntime() {
    faults::Reset();
    runtime = RuntimeState{};
    scroller = ScrollerState{};
    screen = ScreenState{};
    sprites = SpriteStore{};
    SpriteColorKey = DDCOLORKEY{};
    sprites3D = Sprite3DState{};
    drawing = DrawingContext{};
    fonts = FontTable{};
    directInputState = DirectInputState{};
    keyboard = KeyboardState{};
    sound = SoundState{};
    CreatePrivateHeap();
    CreateWorkArea();
    runtime.instance = GetModuleHandleA(nullptr);
}

// How often a call was recorded under exactly this name.
inline int CountRecorded(const std::string& name) {
    return static_cast<int>(std::count(faults::Recorded().begin(), faults::Recorded().end(), name));
}

// The calls `run` makes whose names start with one of `prefixes`, in order.
inline Calls CallsOf(const std::function<void()>& run, const std::vector<std::string>& prefixes) {
    faults::StartRecording();
    run();
    return faults::RecordedMatching(prefixes);
}

// The exit code `run` ended the process with (ExitProcess trapped), or -1 when it returned.
inline long ExitCodeOf(const std::function<void()>& run) {
    faults::TrapExit(true);
    try {
        run();
    } catch (const faults::ProcessExit& exit) {
        return static_cast<long>(exit.code);
    }
    return -1;
}

// An environment variable set (null: unset) for the object's life, then as it was.
struct ScopedEnv {
    std::string name;
    std::optional<std::string> old;
    ScopedEnv(const char* variable, const char* value) : name(variable) {
        if (const char* was = std::getenv(variable)) old = was;
        value ? setenv(variable, value, 1) : unsetenv(variable);
    }
    ~ScopedEnv() { old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str()); }
};

// A colour fill of the surface, or of `area` in it.
inline HRESULT ColorFill(IDirectDrawSurface7* s, DWORD value, RECT* area = nullptr) {
    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    fx.dwFillColor = value;
    return s->Blt(area, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
}

// Locks the whole 16-bit surface and returns its pixel (x, y), or null when the lock fails; stays locked.
inline uint16_t* LockedPixel(IDirectDrawSurface7* s, int x = 0, int y = 0, LONG* pitch = nullptr) {
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof d;
    if (s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr) != DD_OK) return nullptr;
    if (pitch) *pitch = d.lPitch / 2;
    return reinterpret_cast<uint16_t*>(static_cast<BYTE*>(d.lpSurface) + y * d.lPitch) + x;
}

// A side x side surface with these caps on the open DirectDraw object, or null.
inline IDirectDrawSurface7* MakeSurface(DWORD caps, int side = 8) {
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof d;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    d.ddsCaps.dwCaps = caps;
    d.dwWidth = d.dwHeight = side;
    IDirectDrawSurface7* s = nullptr;
    return screen.directDraw && screen.directDraw->CreateSurface(&d, &s, nullptr) == DD_OK ? s : nullptr;
}

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override { ResetRuntime(); }
    void TearDown() override { faults::Reset(); }

    void Start() { ASSERT_NE(InitScreenSystem(), nullptr); }
    void Open(int width = 640, int height = 480, int depth = 16) {
        Start();
        ASSERT_EQ(OpenScreen(width, height, depth, " "), 1);
    }
    static standin::Surface& Back() { return *standin::SurfaceOf(screen.backBuffer); }
    static standin::Surface& Front() { return *standin::SurfaceOf(screen.primary); }
    static standin::Surface* SpritePixels(int number) {
        return standin::SurfaceOf(SpriteSurface(sprites.spriteTable[number]));
    }
    // A raw-block sprite as sprite loading leaves one: a heap block of colour indices, bit depth -2,
    // its own copy of the file name.
    static void PutRawBlockSprite(int number) {
        SpriteRecord& r = sprites.spriteTable[number];
        r = SpriteRecord{HeapAlloc(runtime.heap, HEAP_ZERO_MEMORY, 64), 8, 8, kRawBlockDepth, 2, strdup("raw.bmp")};
    }
    // An 8 x 8 surface sprite made on the open DirectDraw object.
    static IDirectDrawSurface7* PutSurfaceSprite(int number, DWORD caps = DDSCAPS_OFFSCREENPLAIN, int16_t mode = 0) {
        IDirectDrawSurface7* s = MakeSurface(caps);
        if (s) sprites.spriteTable[number] = SpriteRecord{s, 8, 8, 24, mode, strdup("sprite.bmp")};
        return s;
    }
};

// A runtime test with the screen system started and the demo's screen open.
class OpenScreenTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Open();
    }
    // Frees the sprites, and with them the file names loads keep.
    void TearDown() override {
        CloseScreen();
        RuntimeTest::TearDown();
    }
};
