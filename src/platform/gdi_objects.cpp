// STUB: replaced by the GDI objects implementation.
#include "platform/gdi_internal.h"
#include "platform/standin.h"
namespace standin {
void ResetGdi() {}
}
