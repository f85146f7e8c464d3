// Shared set-up for the unit tests: every test starts from a process-start
// state of both the stand-in platform and the runtime's own records.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/runtime.h"
#include "demo/scroller.h"
#include "drawing/drawing.h"
#include "drawing/fonts.h"
#include "input/keyboard.h"
#include "platform/faults.h"
#include "platform/standin.h"
#include "platform/surface.h"
#include "screen/screen.h"
#include "sound/sound.h"
#include "sprites/sprite3d.h"
#include "sprites/sprites.h"

using Calls = std::vector<std::string>;

// The particle bitmap as the source tree holds it.
constexpr char kParticleBitmap[] = RINGSCROLLER_SOURCE_DIR "/assets/glimrotan.bmp";

// Zeroes every runtime record, as at process start, with the private heap
// and the work area made. The platform is reset first, so nothing the old
// records pointed at is still alive.
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
    int n = 0;
    for (const std::string& call : faults::Recorded()) n += call == name;
    return n;
}

// The cursor's display counter, read without changing it.
inline int CursorCount() {
    int shown = ShowCursor(TRUE);
    ShowCursor(FALSE);
    return shown - 1;
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

    // A raw-block sprite as sprite loading leaves one: a heap block of colour
    // indices, bit depth -2 and its own copy of the file name.
    static void PutRawBlockSprite(int number) {
        SpriteRecord& r = sprites.spriteTable[number];
        r = SpriteRecord{HeapAlloc(runtime.heap, HEAP_ZERO_MEMORY, 64), 8, 8, kRawBlockDepth, 2, strdup("raw.bmp")};
    }
    // An 8 x 8 surface sprite made on the open DirectDraw object.
    static IDirectDrawSurface7* PutSurfaceSprite(int number, DWORD caps = DDSCAPS_OFFSCREENPLAIN, int16_t mode = 0) {
        DDSURFACEDESC2 d{};
        d.dwSize = sizeof d;
        d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
        d.ddsCaps.dwCaps = caps;
        d.dwWidth = d.dwHeight = 8;
        IDirectDrawSurface7* s = nullptr;
        if (!screen.directDraw || screen.directDraw->CreateSurface(&d, &s, nullptr) != DD_OK) return nullptr;
        sprites.spriteTable[number] = SpriteRecord{s, 8, 8, 24, mode, strdup("sprite.bmp")};
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
