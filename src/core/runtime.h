// The runtime's spine: its own state, start-up in a fixed order, shutdown.
#pragma once

#include "platform/api.h"

struct RuntimeState {
    HANDLE heap;        // the private heap: arrays, strings, tables, work area
    BYTE* workPtr;      // next free byte of the string work area
    HINSTANCE instance; // the program's module handle
    BYTE* workStart;    // the work area's first byte...
    BYTE* workEnd;      // ...and one past its last, so temporaries stay inside
};

extern RuntimeState runtime;

constexpr DWORD kWorkAreaSize = 64000;

// The private heap (options 0, 4000 bytes to start, no maximum) into
// runtime.heap; null when it cannot be made.
HANDLE CreatePrivateHeap();
// The zero-filled string work area from the private heap, with workPtr at its
// start; null when it cannot be allocated.
BYTE* CreateWorkArea();

// Steps 1 to 9 of start-up: clears the runtime and demo state, creates the
// heap and the work area, and starts every library subsystem in order.
void StartRuntime(HINSTANCE instance);

// Start-up, the demo, then EndProgram(0).
[[noreturn]] void ProgramMain(HINSTANCE instance);

// Closes the subsystems in order, destroys the heap and ends the process.
[[noreturn]] void EndProgram(int exitCode);

// A failure the program cannot go on after: says so (a message box on
// Windows, standard error elsewhere) and ends the process with `exitCode`.
[[noreturn]] void FatalError(const char* message, int exitCode);
// Says so as FatalError does, and nothing more.
void ReportFailure(const char* message);

// Exit codes of the failures the program cannot go on after. 5 is left out:
// a shell sees a crash's access violation (0xC0000005) under Wine as 5.
constexpr int kExitNoHeap = 2;
constexpr int kExitNoWorkArea = 3;
constexpr int kExitWorkAreaOverflow = 4;
constexpr int kExitNoScreen = 6;
