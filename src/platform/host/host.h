// The machine behind the stand-in: the display, the keyboard and the audio
// device. One host is built in, chosen by CMake: the SDL host (sdl/: SDL2
// full screen, window or headless, PNG capture, FreeType text) or the web
// host (web/: a canvas, DOM keys, Web Audio). What every host shares lives
// beside this file.
#pragma once

#include "platform/surface.h"

namespace standin::host {

enum class DisplayKind { fullscreen, window, headless };

// RINGSCROLLER_DISPLAY, or full screen where a display exists, else headless.
DisplayKind Kind();

// Shows the primary surface (scaled, aspect kept) and writes it to the
// capture folder when one is set. Frames keep the display mode's 60 Hz:
// locked to the refresh of a display at 60 Hz or a multiple of it, else on a
// 60 Hz clock that vsync only aligns; headless is unpaced.
void Present(const Surface& primary);

// True while an SDL video window is up (never when headless). The display
// takes only window and quit events from SDL's queue; key events stay there
// for the keyboard, and SDL_GetKeyboardState stays current.
bool VideoActive();

// The cursor's display counter went to >= 0 (shown) or below (hidden).
void CursorShown(bool shown);

// Forgets the display's settings and closes its window, so the next Kind()
// or Present() reads the environment again. After it, an unset
// RINGSCROLLER_DISPLAY means headless (tests never open a window unasked).
void ResetDisplay();

// Handles waiting host events: focus changes, minimising, the close button.
void PumpEvents();

// The program's message loop found its queue empty: one pass a frame.
// `active`: the main window is active, so the frame will be presented and
// the present paces the loop. An inactive program presents nothing, and the
// host waits here for the display's next tick instead of spinning (headless
// hosts never wait).
void MessageLoopPassed(bool active);

// Keys by DirectInput scan code; bit 7 set while held.
void ReadKeys(BYTE keys[256]);
// Ctrl-C, SIGTERM and the close button: Escape reads as held from now on
// (and the main window is asked to close when the keyboard cannot say so).
void RequestEscape();
// One pass of the program's message loop, a frame (RINGSCROLLER_ESCAPE_AFTER
// counts these).
void CountFrame();

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
