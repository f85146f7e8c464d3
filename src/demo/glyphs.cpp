// STUB: replaced by glyph capture.
#include "demo/glyphs.h"
void CaptureGlyphs() {}
