// Filling sprite slots from bitmap files.
#pragma once

#include <cstddef>

#include "platform/api.h"
#include "sprites/sprites.h"

enum SpriteMode : int32_t {
    kModeOffscreen = 0,
    kModeSystemMemory = 1,
    kModeRawBlock = 2,
    kModeTexture = 4,
};

void* LoadSpriteFromFile(int32_t number, const char* name, int32_t mode);
void* BuildSprite(int32_t number, const BYTE* data, size_t length, int32_t mode, const char* name);
void* CreateSpriteSurface(SpriteRecord* record, int32_t width, int32_t height, int32_t depth, int32_t mode);
// Puts the picture of sprite `number` back into its own surface from the file
// it was loaded from, after the display lost it: the surface object stays, so
// every 3D sprite that borrows it as a texture draws it again. The surface or
// null (no such sprite, a raw block, a file that no longer fits it).
void* RefillSpriteFromFile(int32_t number);
