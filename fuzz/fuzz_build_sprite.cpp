// libFuzzer target: BuildSprite on arbitrary bytes, as if they were a bitmap
// file read from disk, on the stand-in's 640 x 480 x 16 screen. The first
// byte picks the load mode and the rest is the file, so off-screen,
// system-memory, texture and raw-block loads of valid bitmaps are all
// reached. Any crash, sanitizer report or leak is a find.
#include <cstddef>
#include <cstdint>

#include "core/runtime.h"
#include "platform/faults.h"
#include "screen/screen.h"
#include "sprites/sprite_load.h"
#include "sprites/sprites.h"

namespace {

bool OpenOnce() {
    faults::Reset();
    if (!CreatePrivateHeap() || !InitScreenSystem()) return false;
    return OpenScreen(640, 480, 16, " ") == 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool open = OpenOnce();
    if (!open) __builtin_trap();
    static const int32_t kModes[] = {kModeOffscreen, kModeSystemMemory, kModeRawBlock, kModeTexture, 3};
    if (size == 0) return 0;
    int32_t mode = kModes[data[0] % 5];
    BuildSprite(1, data + 1, size - 1, mode, "fuzz");
    // Free it again so every input starts from an empty slot and nothing
    // built by one input leaks into the next.
    FreeSprite(1);
    return 0;
}
