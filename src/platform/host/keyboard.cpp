// STUB: replaced by the host keyboard.
#include "platform/host/host.h"
#include <cstring>
namespace standin::host {
void ReadKeys(BYTE keys[256]) { std::memset(keys, 0, 256); }
void RequestEscape() {}
void SetKey(int, bool) {}
void Reset() {}
}  // namespace standin::host
