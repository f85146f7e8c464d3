// Wiring between the stand-in's own modules; not part of the Win32 surface
// the runtime sees.
#pragma once

#include <string>

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
void HostFocusChanged(bool inFront);  // user: WM_ACTIVATE to the main window
void LoseAllSurfaces();               // ddraw: display taken away
HWND MainWindowHandle();              // user: the one top-level window, or null
bool WindowInForeground(HWND window); // user: the window is the active one

// Entry points of the by-name libraries, looked up by GetProcAddress.
}  // namespace standin

struct IDirectInput7A;
struct IDirectSound;
HRESULT WINAPI DirectDrawCreateEx(GUID* driver, LPVOID* object, REFIID iid, IUnknown* outer);
HRESULT WINAPI DirectInputCreateEx(HINSTANCE instance, DWORD version, REFIID iid, LPVOID* object, LPUNKNOWN outer);
HRESULT WINAPI DirectSoundCreate(const GUID* device, IDirectSound** object, LPUNKNOWN outer);

namespace standin {
// Test overrides set through faults.h, read by the modules they affect.
bool DisplayMasksOverride(int bitsPerPixel, DWORD& red, DWORD& green, DWORD& blue);
int DisplayDpi();
}  // namespace standin
