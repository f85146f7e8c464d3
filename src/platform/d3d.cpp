// STUB: replaced by the Direct3D implementation.
#include "platform/api.h"
#include "platform/standin.h"
namespace standin {
void ResetD3D() {}
}
