// STUB: replaced by the screen system.
#include "screen/screen.h"
ScreenState screen;
void* InitScreenSystem() { return nullptr; }
int32_t OpenScreen(int32_t, int32_t, int32_t, const char*) { return 0; }
int32_t CloseScreen() { return 0; }
void ShutdownScreenSystem() {}
IDirectDraw7* AcquireDirectDraw() { return nullptr; }
void ReleaseDirectDraw() {}
int32_t CreateFlipChain() { return 0; }
void BlankSurfaces() {}
void DetectPixelFormat() {}
