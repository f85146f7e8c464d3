// 3D sprites: textured, alpha-blended screen-aligned quads through Direct3D 7.
#pragma once

#include "platform/api.h"

struct Sprite3DRecord {
    IDirectDrawSurface7* texture;  // borrowed from a texture sprite; null = empty
    D3DTLVERTEX vertices[4];
};

struct Sprite3DState {
    IDirect3D7* direct3D;
    IDirect3DDevice7* device;
    int32_t deviceNeeded;
    int32_t sceneOpen;
    D3DVIEWPORT7 viewport;
    Sprite3DRecord* sprite3DTable;
    int32_t sprite3DCapacity;
};

extern Sprite3DState sprites3D;

int32_t InitSprite3DSystem();
int32_t MakeSprite3D(int32_t number, int32_t spriteNumber);
int32_t Begin3D();
void End3D();
void ResizeSprite3D(int32_t number, int32_t width, int32_t height);
void SetSprite3DBlend(DWORD source, DWORD destination);
HRESULT DrawSprite3D(int32_t number, int32_t x, int32_t y, DWORD alpha);
void ClearSprite3D(int32_t number);
void CloseSprite3DSystem();
// Empties every 3D sprite that borrowed this surface (it is being freed).
void ForgetSprite3DTexture(const void* surface);
