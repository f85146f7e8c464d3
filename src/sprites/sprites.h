// The numbered sprite table.
#pragma once

#include "platform/api.h"

struct SpriteRecord {
    void* surface;     // IDirectDrawSurface7*, or the raw block of a mode-2 sprite; null = empty
    int16_t width;
    int16_t height;
    int16_t bitDepth;  // the bitmap's bit count; -2 marks a raw block
    int16_t mode;
    char* fileName;    // malloc'd copy of the name it was loaded from
};

constexpr int16_t kRawBlockDepth = -2;
constexpr int32_t kSpriteTableStep = 50;

struct SpriteStore {
    SpriteRecord* spriteTable;
    int32_t spriteCapacity;
};

extern SpriteStore sprites;
extern DDCOLORKEY SpriteColorKey;

inline IDirectDrawSurface7* SpriteSurface(const SpriteRecord& record) {
    return static_cast<IDirectDrawSurface7*>(record.surface);
}

SpriteRecord* InitSpriteTable();
// Makes slot `number` exist. Returns 1 when it does; 0 (table unchanged) for a
// negative number, one whose growth would overflow, or a failed re-allocation.
int32_t GrowSpriteTable(int32_t number);
void FreeSprite(int32_t number);
