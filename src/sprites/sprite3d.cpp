// 3D sprites: texture sprites drawn as screen-aligned, alpha-blended quads
// through a Direct3D 7 HAL device rendering into the back buffer.
#include "sprites/sprite3d.h"

#include <cstdint>

#include "core/runtime.h"
#include "screen/screen.h"
#include "sprites/sprite_load.h"
#include "sprites/sprites.h"

Sprite3DState sprites3D;

namespace {

constexpr int32_t kSprite3DStep = 50;
constexpr DWORD kOpaqueWhite = 0xFFFFFFFF;

bool Valid(int32_t number) {
    return sprites3D.sprite3DTable && number >= 0 && number < sprites3D.sprite3DCapacity;
}

// Makes 3D-sprite `number` exist, growing the table to number + 50 (one
// record more, as the sprite table does). False for a negative number, a
// size that would overflow, or a failed allocation; the table is unchanged.
bool GrowSprite3DTable(int32_t number) {
    if (number < 0) return false;
    if (sprites3D.sprite3DTable && number < sprites3D.sprite3DCapacity) return true;
    if (number > INT32_MAX - kSprite3DStep - 1) return false;
    int32_t capacity = number + kSprite3DStep;
    SIZE_T bytes = static_cast<SIZE_T>(capacity + 1) * sizeof(Sprite3DRecord);
    void* table = sprites3D.sprite3DTable
                      ? HeapReAlloc(runtime.heap, HEAP_ZERO_MEMORY, sprites3D.sprite3DTable, bytes)
                      : HeapAlloc(runtime.heap, HEAP_ZERO_MEMORY, bytes);
    if (!table) return false;
    sprites3D.sprite3DTable = static_cast<Sprite3DRecord*>(table);
    sprites3D.sprite3DCapacity = capacity;
    return true;
}

void SetCorners(Sprite3DRecord& record, float width, float height) {
    const float xs[4] = {0.0f, width, 0.0f, width};
    const float ys[4] = {0.0f, 0.0f, height, height};
    for (int i = 0; i < 4; ++i) {
        record.vertices[i].sx = xs[i];
        record.vertices[i].sy = ys[i];
    }
}

}  // namespace

int32_t InitSprite3DSystem() {
    sprites3D.sprite3DCapacity = kSprite3DStep;
    sprites3D.sprite3DTable = static_cast<Sprite3DRecord*>(
        HeapAlloc(runtime.heap, HEAP_ZERO_MEMORY, kSprite3DStep * sizeof(Sprite3DRecord)));
    if (!sprites3D.sprite3DTable) sprites3D.sprite3DCapacity = 0;
    int32_t result = 0;
    sprites3D.direct3D = nullptr;
    if (screen.directDraw) {
        void* direct3D = nullptr;
        if (screen.directDraw->QueryInterface(IID_IDirect3D7, &direct3D) == 0 && direct3D) {
            sprites3D.direct3D = static_cast<IDirect3D7*>(direct3D);
            result = 1;
        }
    }
    sprites3D.deviceNeeded = 1;
    sprites3D.sceneOpen = 0;
    return result;
}

int32_t MakeSprite3D(int32_t number, int32_t spriteNumber) {
    if (!GrowSprite3DTable(number)) return 0;
    ClearSprite3D(number);
    if (!sprites.spriteTable || spriteNumber < 0 || spriteNumber >= sprites.spriteCapacity) return 0;
    const SpriteRecord& sprite = sprites.spriteTable[spriteNumber];
    if (!sprite.surface || sprite.mode != kModeTexture) return 0;
    // One more than the bitmap in each direction.
    float width = static_cast<float>(sprite.width) + 1.0f;
    float height = static_cast<float>(sprite.height) + 1.0f;
    Sprite3DRecord& record = sprites3D.sprite3DTable[number];
    const float us[4] = {0.0f, 1.0f, 0.0f, 1.0f};
    const float vs[4] = {0.0f, 0.0f, 1.0f, 1.0f};
    for (int i = 0; i < 4; ++i) {
        D3DTLVERTEX& v = record.vertices[i];
        v.sz = 0.0f;
        v.rhw = 1.0f;
        v.color = kOpaqueWhite;
        v.specular = 0;
        v.tu = us[i];
        v.tv = vs[i];
    }
    SetCorners(record, width, height);
    record.texture = SpriteSurface(sprite);
    return 1;
}

int32_t Begin3D() {
    // Without an open screen there is no back buffer to render into; the
    // device is made at the first Begin3D that has one.
    if (sprites3D.deviceNeeded && sprites3D.direct3D && screen.backBuffer) {
        // A device whose viewport could not be read is given up before the
        // next one is made, so retries do not pile devices up.
        if (sprites3D.device) {
            sprites3D.device->Release();
            sprites3D.device = nullptr;
            sprites3D.sceneOpen = 0;
        }
        IDirect3DDevice7* device = nullptr;
        if (sprites3D.direct3D->CreateDevice(IID_IDirect3DHALDevice, screen.backBuffer, &device) == 0 && device) {
            sprites3D.device = device;
            if (device->GetViewport(&sprites3D.viewport) == 0) sprites3D.deviceNeeded = 0;
        }
    }
    IDirect3DDevice7* device = sprites3D.device;
    if (!device) return 0;
    // A failed BeginScene leaves sceneOpen as it was: when it failed because
    // a scene is still open, End3D must still be able to close that scene.
    if (device->BeginScene() != 0) return 0;
    device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRENDERSTATE_COLORKEYENABLE, TRUE);
    sprites3D.sceneOpen = 1;
    return 1;
}

void End3D() {
    if (!sprites3D.sceneOpen) return;
    if (sprites3D.device) sprites3D.device->EndScene();
    sprites3D.sceneOpen = 0;
}

void ResizeSprite3D(int32_t number, int32_t width, int32_t height) {
    if (!Valid(number)) return;
    SetCorners(sprites3D.sprite3DTable[number], static_cast<float>(width), static_cast<float>(height));
}

void SetSprite3DBlend(DWORD source, DWORD destination) {
    IDirect3DDevice7* device = sprites3D.device;
    if (!device) return;
    device->SetRenderState(D3DRENDERSTATE_SRCBLEND, source);
    device->SetRenderState(D3DRENDERSTATE_DESTBLEND, destination);
}

HRESULT DrawSprite3D(int32_t number, int32_t x, int32_t y, DWORD alpha) {
    IDirect3DDevice7* device = sprites3D.device;
    if (!device) return E_FAIL;
    // A number outside the table has no record to read. An empty 3D sprite
    // (never made, cleared, or its sprite freed) is drawn all the same, with
    // no texture: an untextured quad in the vertex colour.
    if (!Valid(number)) return DDERR_INVALIDPARAMS;
    const Sprite3DRecord& record = sprites3D.sprite3DTable[number];
    D3DTLVERTEX quad[4];
    const DWORD colorMask = (alpha << 24) | 0x00FFFFFF;
    const float dx = static_cast<float>(x), dy = static_cast<float>(y);
    for (int i = 0; i < 4; ++i) {
        quad[i] = record.vertices[i];
        quad[i].sx += dx;
        quad[i].sy += dy;
        quad[i].color &= colorMask;
    }
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_POINT);
    device->SetTexture(0, record.texture);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    return device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, quad, 4, 0);
}

void ClearSprite3D(int32_t number) {
    if (!Valid(number)) return;
    sprites3D.sprite3DTable[number].texture = nullptr;
}

void CloseSprite3DSystem() {
    for (int32_t n = 0; n < sprites3D.sprite3DCapacity; ++n) ClearSprite3D(n);
}

void ForgetSprite3DTexture(const void* surface) {
    if (!surface || !sprites3D.sprite3DTable) return;
    for (int32_t n = 0; n < sprites3D.sprite3DCapacity; ++n) {
        if (sprites3D.sprite3DTable[n].texture == surface) sprites3D.sprite3DTable[n].texture = nullptr;
    }
}
