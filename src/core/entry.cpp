// The process entry: the module handle, then ProgramMain, which never returns.
// The command line is not looked at.
#include "core/runtime.h"

int main() { ProgramMain(GetModuleHandleA(nullptr)); }
