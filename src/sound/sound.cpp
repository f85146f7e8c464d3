// STUB: replaced by the sound device.
#include "sound/sound.h"
SoundState sound;
int32_t OpenSound() { return 0; }
void CloseSound() {}
