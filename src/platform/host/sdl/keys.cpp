// The SDL host's keyboard: SDL2's key state, while its video is up, by
// DirectInput scan code.
#include <SDL.h>

#include "platform/host/devices.h"
#include "platform/host/host.h"

namespace {

struct KeyMap {
    SDL_Scancode sdl;
    BYTE dik;
};

constexpr KeyMap kKeyMap[] = {
#define RINGSCROLLER_KEY(sdl, code, dik) {SDL_SCANCODE_##sdl, dik},
#include "platform/host/keymap.h"
#undef RINGSCROLLER_KEY
};

// DirectInput scan code of an SDL scancode; 0 for keys DirectInput lacks.
BYTE ScanCode(SDL_Scancode code) {
    for (const KeyMap& key : kKeyMap) {
        if (key.sdl == code) return key.dik;
    }
    return 0;
}

}  // namespace

namespace standin::host {

void ReadDeviceKeys(BYTE keys[256]) {
    // SDL's key state exists only while its video is up (a window or full
    // screen); headless runs have no keyboard but the scripted one.
    if (!VideoActive()) return;
    // A key pressed and let go again between two polls still counts as
    // held at the next one: a quick tap of Escape is not lost.
    SDL_Event events[64];
    int got;
    while ((got = SDL_PeepEvents(events, 64, SDL_GETEVENT, SDL_KEYDOWN, SDL_KEYUP)) > 0) {
        for (int i = 0; i < got; ++i) {
            if (events[i].type != SDL_KEYDOWN) continue;
            BYTE dik = ScanCode(events[i].key.keysym.scancode);
            if (dik) keys[dik] = 0x80;
        }
    }
    int count = 0;
    const Uint8* state = SDL_GetKeyboardState(&count);
    for (const KeyMap& key : kKeyMap) {
        if (key.sdl < count && state[key.sdl]) keys[key.dik] = 0x80;
    }
}

}  // namespace standin::host
