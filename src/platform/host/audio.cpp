// STUB: replaced by the host audio device.
#include "platform/host/host.h"
namespace standin::host {
bool OpenAudio() { return false; }
void CloseAudio() {}
}  // namespace standin::host
