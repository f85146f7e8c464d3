// STUB: replaced by the sprite table.
#include "sprites/sprites.h"
SpriteStore sprites;
DDCOLORKEY SpriteColorKey;
SpriteRecord* InitSpriteTable() { return nullptr; }
int32_t GrowSpriteTable(int32_t) { return 0; }
void FreeSprite(int32_t) {}
