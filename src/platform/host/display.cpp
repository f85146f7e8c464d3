// STUB: replaced by the SDL2 display.
#include "platform/host/host.h"
namespace standin::host {
DisplayKind Kind() { return DisplayKind::headless; }
void Present(const Surface&) {}
void PumpEvents() {}
void Shutdown() {}
}  // namespace standin::host
