// Numbered GDI fonts.
#pragma once

#include "platform/api.h"

struct FontTable {
    HFONT* fontTable;
    int32_t fontCapacity;
};

extern FontTable fonts;

void InitFonts();
HFONT LoadFontFace(int32_t number, const char* faceName, int32_t points);
HFONT FontHandle(int32_t number);
void FreeFontFace(int32_t number);
// 1 when slot `number` exists afterwards; 0 (table unchanged) when it cannot.
int32_t GrowFontTable(int32_t number);
