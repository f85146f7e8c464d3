// The host keyboard and audio, as the stand-in's own DirectInput, DirectSound
// and reset see them.
#pragma once

namespace standin::host {

void ResetKeyboard();
void ResetAudio();

// Escape is being forced from outside the keyboard: Ctrl-C, SIGTERM, the
// close button (RequestEscape), or RINGSCROLLER_ESCAPE_AFTER reached.
// DirectInput lets it through even while the window is not in front.
bool QuitRequested();

}  // namespace standin::host
