// STUB: replaced by the DirectSound implementation.
#include "platform/api.h"
#include "platform/standin.h"
namespace standin {
void ResetDSound() {}
}
HRESULT WINAPI DirectSoundCreate(const GUID*, IDirectSound** object, LPUNKNOWN) {
    if (object) *object = nullptr;
    return DSERR_NODRIVER;
}
