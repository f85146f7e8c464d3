// Shared set-up for the unit tests: every test starts from a process-start
// state of both the stand-in platform and the runtime's own records.
#pragma once

#include <gtest/gtest.h>

#include "core/runtime.h"
#include "demo/scroller.h"
#include "drawing/drawing.h"
#include "drawing/fonts.h"
#include "input/keyboard.h"
#include "platform/faults.h"
#include "screen/screen.h"
#include "sound/sound.h"
#include "sprites/sprite3d.h"
#include "sprites/sprites.h"

// Zeroes every runtime record, as at process start. The platform is reset
// first, so nothing the old records pointed at is still alive.
inline void ResetRuntimeRecords() {
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
}

// The private heap and the work area, without any library start-up.
inline void MakeHeapAndWorkArea() {
    CreatePrivateHeap();
    CreateWorkArea();
}

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRuntimeRecords();
        MakeHeapAndWorkArea();
    }
    void TearDown() override { faults::Reset(); }
};

// The particle bitmap as the source tree holds it.
constexpr char kParticleBitmap[] = RINGSCROLLER_SOURCE_DIR "/assets/glimrotan.bmp";

// A runtime test with the screen system started and the demo's screen open.
class OpenScreenTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        ASSERT_NE(InitScreenSystem(), nullptr);
        ASSERT_EQ(OpenScreen(640, 480, 16, " "), 1);
    }
};
