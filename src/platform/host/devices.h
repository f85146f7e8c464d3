// The host keyboard and audio, as the stand-in's own DirectInput, DirectSound
// and reset see them.
#pragma once

#include "platform/wintypes.h"

namespace standin::host {

void ResetKeyboard();

// The host's own keyboard: sets bit 7 of every key held now, or pressed
// since the last poll, by DirectInput scan code (keymap.h).
void ReadDeviceKeys(BYTE keys[256]);

void ResetAudio();

// Escape is being forced from outside the keyboard: Ctrl-C, SIGTERM, the
// close button (RequestEscape), or RINGSCROLLER_ESCAPE_AFTER reached.
// DirectInput lets it through even while the window is not in front.
bool QuitRequested();

}  // namespace standin::host
