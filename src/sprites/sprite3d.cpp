// STUB: replaced by 3D sprites.
#include "sprites/sprite3d.h"
Sprite3DState sprites3D;
int32_t InitSprite3DSystem() { return 0; }
int32_t MakeSprite3D(int32_t, int32_t) { return 0; }
int32_t Begin3D() { return 0; }
void End3D() {}
void ResizeSprite3D(int32_t, int32_t, int32_t) {}
void SetSprite3DBlend(DWORD, DWORD) {}
HRESULT DrawSprite3D(int32_t, int32_t, int32_t, DWORD) { return E_FAIL; }
void ClearSprite3D(int32_t) {}
void CloseSprite3DSystem() {}
void ForgetSprite3DTexture(const void*) {}
