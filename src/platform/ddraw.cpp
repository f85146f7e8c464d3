// STUB: replaced by the DirectDraw implementation.
#include "platform/api.h"
#include "platform/standin.h"
#include "platform/surface.h"
namespace standin {
void ResetDDraw() {}
void LoseAllSurfaces() {}
Surface* SurfaceOf(IDirectDrawSurface7*) { return nullptr; }
}  // namespace standin
HRESULT WINAPI DirectDrawCreateEx(GUID*, LPVOID* object, REFIID, IUnknown*) {
    if (object) *object = nullptr;
    return DDERR_UNSUPPORTED;
}
