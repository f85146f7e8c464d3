// STUB: replaced by frame presentation.
#include "screen/present.h"
#include "screen/screen.h"
IDirectDrawSurface7* FlipBuffers() { return screen.backBuffer; }
