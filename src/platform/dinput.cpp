// STUB: replaced by the DirectInput implementation.
#include "platform/api.h"
#include "platform/standin.h"
namespace standin {
void ResetDInput() {}
}
HRESULT WINAPI DirectInputCreateEx(HINSTANCE, DWORD, REFIID, LPVOID* object, LPUNKNOWN) {
    if (object) *object = nullptr;
    return DIERR_DEVICENOTREG;
}
