// The numbered sprite table: a heap array of SpriteRecord slots that grows
// on demand and never shrinks.
#include <cstdint>
#include <cstdlib>

#include "core/runtime.h"
#include "sprites/sprite3d.h"
#include "sprites/sprites.h"

SpriteStore sprites;
DDCOLORKEY SpriteColorKey;

SpriteRecord* InitSpriteTable() {
    SpriteColorKey.dwColorSpaceLowValue = 0;
    SpriteColorKey.dwColorSpaceHighValue = 0;
    sprites.spriteTable =
        static_cast<SpriteRecord*>(HeapAlloc(runtime.heap, HEAP_ZERO_MEMORY, kSpriteTableStep * sizeof(SpriteRecord)));
    // Without a table there are no slots: every walk over the capacity must
    // find nothing rather than read through a null pointer.
    sprites.spriteCapacity = sprites.spriteTable ? kSpriteTableStep : 0;
    return sprites.spriteTable;
}

int32_t GrowSpriteTable(int32_t number) {
    if (number < 0) return 0;
    if (number < sprites.spriteCapacity && sprites.spriteTable) return 1;
    // The table is number + 50 slots plus one spare record; both the slot
    // count and the byte size must fit before anything is touched.
    if (number > INT32_MAX - kSpriteTableStep - 1) return 0;
    int32_t capacity = number + kSpriteTableStep;
    uint64_t records = static_cast<uint64_t>(capacity) + 1;
    if (records > SIZE_MAX / sizeof(SpriteRecord)) return 0;
    SIZE_T bytes = static_cast<SIZE_T>(records * sizeof(SpriteRecord));
    void* grown = sprites.spriteTable ? HeapReAlloc(runtime.heap, HEAP_ZERO_MEMORY, sprites.spriteTable, bytes)
                                      : HeapAlloc(runtime.heap, HEAP_ZERO_MEMORY, bytes);
    // A table that cannot grow stays as it was, still usable.
    if (!grown) return 0;
    sprites.spriteTable = static_cast<SpriteRecord*>(grown);
    sprites.spriteCapacity = capacity;
    return 1;
}

void FreeSprite(int32_t number) {
    if (number < 0 || number >= sprites.spriteCapacity || !sprites.spriteTable) return;
    SpriteRecord& record = sprites.spriteTable[number];
    if (!record.surface) return;
    if (record.bitDepth == kRawBlockDepth) {
        HeapFree(runtime.heap, 0, record.surface);
    } else {
        // 3D sprites borrow the surface as a texture; they must let go first.
        ForgetSprite3DTexture(record.surface);
        SpriteSurface(record)->Release();
    }
    std::free(record.fileName);
    record.fileName = nullptr;
    record.surface = nullptr;
}
