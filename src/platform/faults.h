// Test-only control of the stand-in platform: make calls fail, record the
// calls the runtime makes, lose the display, script the host. Nothing in the
// runtime includes this; only tests, benchmarks and the stand-in itself.
//
// Calls are named "Function" or "Interface::Method", optionally followed by a
// space and a detail: "LoadLibraryA DSOUND.DLL", "IDirectDrawSurface7::Release
// backbuffer". A failure scheduled for "LoadLibraryA" hits every library; one
// for "LoadLibraryA DSOUND.DLL" only that one.
#pragma once

#include <string>
#include <vector>

#include "platform/wintypes.h"

namespace faults {

// Brings the whole stand-in back to its state at process start: no heaps,
// libraries loaded, windows, surfaces or devices; no failures scheduled;
// recording off; the host headless with no keys held and in the foreground.
void Reset();

// The next `times` calls named `call` fail (-1: every call from now on),
// after `after` calls that still succeed. "ReadFileShort" makes reads
// succeed with half the bytes asked for.
void Fail(const std::string& call, int times = -1, int after = 0);
// Undo Fail for one name.
void Heal(const std::string& call);

// The stand-in asks this at every call that can fail; it also records the
// call when recording is on. True: the call must fail.
bool Hit(const std::string& call);
// Records a call that cannot fail (releases, unloads, flips...).
void Record(const std::string& call);

void StartRecording();
void StopRecording();
const std::vector<std::string>& Recorded();
// The recorded calls whose name starts with one of the given prefixes, in order.
std::vector<std::string> RecordedMatching(const std::vector<std::string>& prefixes);

// ExitProcess throws ProcessExit instead of ending the process, so a test can
// run EndProgram and look at what it did.
struct ProcessExit {
    UINT code;
};
void TrapExit(bool on);
// A run still going after this many passes of its message loop is stopped
// with ProcessExit{kRunStopped} (0: never): a test of an ending then fails
// instead of hanging when the ending does not come.
constexpr UINT kRunStopped = 0xDEAD;
void StopAfterFrames(long frames);

// The host display loses every surface, as when a full-screen program is
// switched away from. Flip, Blt, Lock and GetDC then fail with
// DDERR_SURFACELOST until RestoreAllSurfaces.
void LoseDisplay();
// Pixel layout the stand-in display reports for a depth (masks), e.g. 16 bits
// as 5-5-5 instead of 5-6-5, or 32 bits with red in the low byte.
void SetDisplayMasks(int bitsPerPixel, DWORD red, DWORD green, DWORD blue);

// The host's keyboard focus: losing it posts WM_ACTIVATE(WA_INACTIVE) to the
// main window and makes foreground DirectInput devices refuse reads.
void SetForeground(bool inFront);
// Only the keyboard focus: the window stays in front and shows its frames,
// but its foreground DirectInput devices cannot read.
void SetKeyboardFocus(bool focused);
// Scripted keys by DirectInput scan code.
void HoldKey(int scanCode, bool held);

// Dots per inch the display device context reports (96 by default).
void SetDisplayDpi(int dpi);

// Whether the host has an audio device DirectSoundCreate can open. Until a
// test says, the real host is asked (headless runs have none).
void SetAudioDevice(bool present);

// Whether the host's audio device is open: DirectSound holds it from the
// first device object until the last of its objects is released.
bool AudioDeviceOpen();

}  // namespace faults
