// STUB: replaced by the font table.
#include "drawing/fonts.h"
FontTable fonts;
void InitFonts() {}
HFONT LoadFontFace(int32_t, const char*, int32_t) { return nullptr; }
HFONT FontHandle(int32_t) { return nullptr; }
void FreeFontFace(int32_t) {}
int32_t GrowFontTable(int32_t) { return 0; }
