// Wiring between the stand-in's own modules; not part of the Win32 surface
// the runtime sees.
#pragma once

#include <string>
#include <vector>

#include "platform/wintypes.h"

namespace standin {

// Each module puts its state back to process start (faults::Reset calls all).
void ResetKernel();
void ResetUser();
void ResetGdi();
void ResetDDraw();
void ResetD3D();
void ResetDInput();
void ResetDSound();

// RINGSCROLLER_TRACE: failing platform calls are logged to standard error.
bool TraceOn();
void TraceFailure(const std::string& call, HRESULT result);

// Host events, delivered while the host's events are pumped (PeekMessageA).
// Activation is Windows' "in front": the main window shown and not minimised
// or hidden behind; losing it posts WM_ACTIVATE(WA_INACTIVE) and takes an
// exclusive display's video memory away. The keyboard focus is separate: a
// window can be in front (showing its frames) while another one types.
void HostActivationChanged(bool active);  // user: WM_ACTIVATE to the main window
void HostKeyboardFocusChanged(bool focused);
void HostFocusChanged(bool inFront);      // both at once, as full screen on Windows
void LoseAllSurfaces();                   // ddraw: display taken away
void HostExposed();                       // user: the main window must be painted again
HWND MainWindowHandle();                  // user: the one top-level window, or null
bool WindowHasKeyboard(HWND window);      // user: the window is active and has the keyboard
bool HostInForeground();                  // user: the host is active (in front)
bool ExclusiveDisplaySet();               // ddraw: some object holds exclusive full screen
// dinput: the last keyboard read succeeded, so a quit reaches the program as
// Escape held; otherwise the stand-in asks the main window to close instead.
bool KeyboardReadsQuit();
// faults: a test's limit on the message loop's passes was passed (counts one).
bool FrameLimitPassed();

// QueryInterface of a stand-in object that answers to IUnknown and to its own
// interface `own` (to IUnknown alone when `own` is null), as COM asks.
template <class Interface>
HRESULT QueryOwnInterface(Interface* self, REFIID riid, const GUID* own, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && !(own && riid == *own)) return E_NOINTERFACE;
    self->AddRef();
    *object = self;
    return S_OK;
}

}  // namespace standin

struct IDirectInput7A;
struct IDirectSound;
HRESULT WINAPI DirectDrawCreateEx(GUID* driver, LPVOID* object, REFIID iid, IUnknown* outer);
HRESULT WINAPI DirectInputCreateEx(HINSTANCE instance, DWORD version, REFIID iid, LPVOID* object, LPUNKNOWN outer);
HRESULT WINAPI DirectSoundCreate(const GUID* device, IDirectSound** object, LPUNKNOWN outer);

struct IDirectDraw7;
struct IDirect3D7;
struct D3DTLVERTEX;
namespace standin {
// The Direct3D object behind IDirectDraw7::QueryInterface(IID_IDirect3D7),
// holding one reference for the caller; null when none can be made.
IDirect3D7* CreateDirect3D(IDirectDraw7* directDraw);

// The software rasteriser behind the Direct3D device (tests and benchmarks):
// its fast paths on (the default) or off, which must change speed only; how
// many draws took the rectangle fast path since the stand-in was reset; and
// the vertices of the last DrawPrimitive any device received.
void SetRasterFastPaths(bool on);
bool RasterFastPaths();
unsigned long RasterFastDraws();
const std::vector<D3DTLVERTEX>& LastDrawnVertices();
// The additive kernel's build by name (see raster_add.h), when this CPU runs
// it; null or any other name: the fastest one.
void SetRasterKernel(const char* name);

// Every device draws what it has recorded: ddraw calls this before a
// surface's pixels are read or written, a texture's colour key changes or a
// surface goes (Lock, GetDC, Blt, Flip, Restore, SetColorKey, the last Release).
void FinishDrawing();
// Ends the devices' drawing threads (ExitProcess: nothing may run on).
void EndDrawingThreads();

// Test overrides set through faults.h, read by the modules they affect.
bool DisplayMasksOverride(int bitsPerPixel, DWORD& red, DWORD& green, DWORD& blue);
int DisplayDpi();
}  // namespace standin
