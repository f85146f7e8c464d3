// STUB: replaced by frame presentation.
#include "screen/present.h"
#include "screen/screen.h"
#include "drawing/drawing.h"
IDirectDrawSurface7* FlipBuffers() { return screen.backBuffer; }
void ReleaseBackBufferDC() {}
