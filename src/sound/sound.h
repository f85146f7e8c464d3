// The sound device through DirectSound: opened at start, released at the end.
#pragma once

#include "platform/api.h"

struct SoundState {
    IDirectSound* directSound;
    HMODULE soundLibrary;
    IDirectSoundBuffer* primaryBuffer;
    DSBUFFERDESC bufferDescription;
};

extern SoundState sound;

int32_t OpenSound();
void CloseSound();
