// Colours as the open screen stores them, and clearing the back buffer.
#pragma once

#include "platform/api.h"

DWORD ToScreenColor(int32_t red, int32_t green, int32_t blue);
HRESULT ClearScreen(int32_t red, int32_t green, int32_t blue);
