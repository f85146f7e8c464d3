// The machine behind the stand-in: the display (SDL2 full screen, window, or
// headless), frame capture to PNG, the keyboard and the audio device.
#pragma once

#include "platform/surface.h"

namespace standin::host {

enum class DisplayKind { fullscreen, window, headless };

// RINGSCROLLER_DISPLAY, or full screen where a display exists, else headless.
DisplayKind Kind();

// Shows the primary surface (scaled, aspect kept) and writes it to the
// capture folder when one is set. Waits for the host's vertical sync where
// there is one, else paces at 60 Hz; headless is unpaced.
void Present(const Surface& primary);

// Handles waiting host events: focus changes, minimising, the close button.
void PumpEvents();

// Keys by DirectInput scan code; bit 7 set while held. Counts one poll.
void ReadKeys(BYTE keys[256]);
// Ctrl-C, SIGTERM and the close button: Escape reads as held from now on.
void RequestEscape();

// The default audio device: true when one could be opened.
bool OpenAudio();
void CloseAudio();

// Closes the window and audio; called by ExitProcess.
void Shutdown();

// Back to process start (tests).
void Reset();
// Scripted state (tests).
void SetKey(int scanCode, bool held);

}  // namespace standin::host
