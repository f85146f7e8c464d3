// Helpers shared by the screen, colour and sprite-table tests.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>

#include "fixture.h"
#include "platform/standin.h"
#include "platform/surface.h"

// The cursor's display counter, read without changing it.
inline int CursorCount() {
    int shown = ShowCursor(TRUE);
    ShowCursor(FALSE);
    return shown - 1;
}

inline char* MallocCopy(const char* text) {
    size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    std::memcpy(copy, text, n);
    return copy;
}

// A raw-block sprite as sprite loading leaves one: a heap block of colour
// indices, bit depth -2 and its own copy of the file name.
inline void PutRawBlockSprite(int number) {
    SpriteRecord& r = sprites.spriteTable[number];
    r.surface = HeapAlloc(runtime.heap, HEAP_ZERO_MEMORY, 64);
    r.width = 8;
    r.height = 8;
    r.bitDepth = kRawBlockDepth;
    r.mode = 2;
    r.fileName = MallocCopy("raw.bmp");
}

// A surface sprite made on the open DirectDraw object.
inline IDirectDrawSurface7* PutSurfaceSprite(int number, DWORD caps = DDSCAPS_OFFSCREENPLAIN, int16_t mode = 0) {
    DDSURFACEDESC2 d;
    std::memset(&d, 0, sizeof d);
    d.dwSize = sizeof d;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    d.ddsCaps.dwCaps = caps;
    d.dwWidth = 8;
    d.dwHeight = 8;
    IDirectDrawSurface7* s = nullptr;
    if (!screen.directDraw || screen.directDraw->CreateSurface(&d, &s, nullptr) != DD_OK) return nullptr;
    SpriteRecord& r = sprites.spriteTable[number];
    r.surface = s;
    r.width = 8;
    r.height = 8;
    r.bitDepth = 24;
    r.mode = mode;
    r.fileName = MallocCopy("sprite.bmp");
    return s;
}

// How often a call was recorded under exactly this name.
inline int CountRecorded(const std::string& name) {
    int n = 0;
    for (const std::string& call : faults::Recorded())
        if (call == name) ++n;
    return n;
}

class ScreenTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        runtime.instance = GetModuleHandleA(nullptr);
    }
    void Start() { ASSERT_NE(InitScreenSystem(), nullptr); }
    void Open(int width = 640, int height = 480, int depth = 16) {
        Start();
        ASSERT_EQ(OpenScreen(width, height, depth, " "), 1);
    }
    standin::Surface& Back() { return *standin::SurfaceOf(screen.backBuffer); }
    standin::Surface& Front() { return *standin::SurfaceOf(screen.primary); }
};
