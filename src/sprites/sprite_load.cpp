// STUB: replaced by sprite loading.
#include "sprites/sprite_load.h"
void* LoadSpriteFromFile(int32_t, const char*, int32_t) { return nullptr; }
void* BuildSprite(int32_t, const BYTE*, size_t, int32_t, const char*) { return nullptr; }
void* CreateSpriteSurface(SpriteRecord*, int32_t, int32_t, int32_t, int32_t) { return nullptr; }
