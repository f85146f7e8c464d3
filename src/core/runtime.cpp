// Start-up and shutdown. The library start-ups run in a fixed order and none
// of their results stops the program: a missing device only makes its later
// operations do nothing.
#include "core/runtime.h"

#include "demo/demo.h"
#include "demo/scroller.h"
#include "drawing/drawing.h"
#include "drawing/fonts.h"
#include "input/keyboard.h"
#include "screen/screen.h"
#include "sound/sound.h"
#include "sprites/sprite3d.h"

RuntimeState runtime;

void ReportFailure(const char* message) { MessageBoxA(nullptr, message, "ringscroller", MB_OK | MB_ICONERROR); }

void FatalError(const char* message, int exitCode) {
    ReportFailure(message);
    ExitProcess(static_cast<UINT>(exitCode));
}

HANDLE CreatePrivateHeap() {
    runtime.heap = HeapCreate(0, 4000, 0);
    return runtime.heap;
}

BYTE* CreateWorkArea() {
    runtime.workStart = static_cast<BYTE*>(HeapAlloc(runtime.heap, HEAP_ZERO_MEMORY, kWorkAreaSize));
    runtime.workPtr = runtime.workStart;
    runtime.workEnd = runtime.workStart ? runtime.workStart + kWorkAreaSize : nullptr;
    return runtime.workStart;
}

void StartRuntime(HINSTANCE instance) {
    runtime = RuntimeState{};
    scroller = ScrollerState{};
    runtime.instance = instance;

    if (!CreatePrivateHeap()) FatalError("The private heap could not be created.", kExitNoHeap);

    InitDrawing();
    InitFonts();

    if (!CreateWorkArea()) FatalError("The string work area could not be allocated.", kExitNoWorkArea);

    InitScreenSystem();
    InitSprite3DSystem();
    OpenSound();
    OpenKeyboard();
}

void ProgramMain(HINSTANCE instance) {
    StartRuntime(instance);
    RunDemo();
    EndProgram(0);
}

void EndProgram(int exitCode) {
    CloseKeyboard();
    CloseSound();
    ShutdownScreenSystem();
    CloseSprite3DSystem();
    // Arrays, strings, tables and the work area all go with the heap at once.
    HeapDestroy(runtime.heap);
    runtime.heap = nullptr;
    runtime.workPtr = runtime.workStart = runtime.workEnd = nullptr;
    ExitProcess(static_cast<UINT>(exitCode));
}
