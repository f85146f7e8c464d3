// The host's default audio device, through SDL2's audio subsystem. Nothing in
// the program plays a sound, so the device is opened paused (it outputs
// silence) and only stands for "this machine has a sound card".
#include <SDL.h>

#include <cstring>

#include "platform/faults.h"
#include "platform/host/devices.h"
#include "platform/host/host.h"

namespace {

enum class Override { none, present, absent };
Override audioOverride = Override::none;

SDL_AudioDeviceID device = 0;
bool scriptedOpen = false;  // a test's device is "open"

void SDLCALL Silence(void*, Uint8* stream, int length) { std::memset(stream, 0, static_cast<size_t>(length)); }

// SDL's stand-in drivers play to nowhere or to a file: not a sound card.
bool RealDriver(const char* name) {
    return name && std::strcmp(name, "dummy") != 0 && std::strcmp(name, "disk") != 0;
}

}  // namespace

namespace faults {

void SetAudioDevice(bool present) { audioOverride = present ? Override::present : Override::absent; }

bool AudioDeviceOpen() { return scriptedOpen || device != 0; }

}  // namespace faults

namespace standin::host {

bool OpenAudio() {
    if (audioOverride != Override::none) {
        scriptedOpen = audioOverride == Override::present;
        return scriptedOpen;
    }
    if (device != 0) return true;
    // Headless runs (and CI) have no sound card.
    if (Kind() == DisplayKind::headless) return false;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    if (!RealDriver(SDL_GetCurrentAudioDriver()) || SDL_GetNumAudioDevices(0) == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = 22050;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = Silence;
    SDL_AudioSpec have;
    device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_ANY_CHANGE);
    if (device == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    return true;  // left paused
}

void CloseAudio() {
    scriptedOpen = false;
    if (device == 0) return;
    SDL_CloseAudioDevice(device);
    device = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void ResetAudio() {
    CloseAudio();
    audioOverride = Override::none;
}

}  // namespace standin::host
