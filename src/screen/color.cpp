// STUB: replaced by colour conversion.
#include "screen/color.h"
DWORD ToScreenColor(int32_t, int32_t, int32_t) { return 0; }
HRESULT ClearScreen(int32_t, int32_t, int32_t) { return E_FAIL; }
