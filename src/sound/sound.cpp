// The sound device through DirectSound: opened at start-up with priority
// cooperation and its primary buffer, given back at the end. Nothing plays.
#include "sound/sound.h"

#include "screen/screen.h"
#include "screen/window.h"

SoundState sound;

namespace {

typedef HRESULT(WINAPI* DirectSoundCreateFunction)(const GUID*, IDirectSound**, LPUNKNOWN);

// The published layout the 32-bit program hands DirectSound.
static_assert(sizeof(void*) != 4 || sizeof(DSBUFFERDESC) == 36, "DSBUFFERDESC is 36 bytes on 32-bit Windows");

}  // namespace

int32_t OpenSound() {
    DSBUFFERDESC& description = sound.bufferDescription;
    description.dwSize = sizeof(DSBUFFERDESC);
    description.dwBufferBytes = 0;
    description.dwReserved = 0;
    description.lpwfxFormat = nullptr;

    // The cooperative level is bound to the main window, so it must exist.
    if (!CreateMainWindow()) return 0;
    if (sound.directSound) return 1;

    sound.soundLibrary = LoadLibraryA("DSOUND.DLL");
    if (!sound.soundLibrary) return 0;
    auto create = reinterpret_cast<DirectSoundCreateFunction>(
        reinterpret_cast<void*>(GetProcAddress(sound.soundLibrary, "DirectSoundCreate")));
    if (!create) return 0;
    if (create(nullptr, &sound.directSound, nullptr) != 0) return 0;
    if (!sound.directSound) return 0;
    if (sound.directSound->SetCooperativeLevel(screen.window, DSSCL_PRIORITY) != 0) return 0;

    description.dwFlags = DSBCAPS_PRIMARYBUFFER;
    if (sound.directSound->CreateSoundBuffer(&description, &sound.primaryBuffer, nullptr) != 0) return 0;
    return 1;
}

void CloseSound() {
    // Every object made from the library goes before the library itself.
    if (sound.primaryBuffer) {
        sound.primaryBuffer->Release();
        sound.primaryBuffer = nullptr;
    }
    if (sound.directSound) {
        sound.directSound->Release();
        sound.directSound = nullptr;
    }
    if (sound.soundLibrary) {
        FreeLibrary(sound.soundLibrary);
        sound.soundLibrary = nullptr;
    }
}
