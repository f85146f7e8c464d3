// The web host's keyboard: DOM key events on the page, by physical key
// (KeyboardEvent.code), kept by DirectInput scan code in the page and read
// at each poll. The listeners only record; the program reads when it polls,
// never from inside an event.
#include <emscripten.h>

#include "platform/host/devices.h"
#include "platform/host/web/page.h"

namespace {

struct KeyMap {
    const char* code;
    BYTE dik;
};

constexpr KeyMap kKeyMap[] = {
#define RINGSCROLLER_KEY(sdl, code, dik) {code, dik},
#include "platform/host/keymap.h"
#undef RINGSCROLLER_KEY
};

EM_JS(void, AddKey, (const char* code, int dik), {
    Module.keyCodes = Module.keyCodes || new Map();
    Module.keyCodes.set(UTF8ToString(code), dik);
});

// held: down now; pressed: went down since the last poll, so that a quick
// tap between two polls is not lost.
EM_JS(void, ListenToKeys, (), {
    const held = new Uint8Array(256), pressed = new Uint8Array(256);
    const down = event => {
        const dik = Module.keyCodes.get(event.code);
        if (dik !== undefined) held[dik] = pressed[dik] = Module.keys.any = 1;
    };
    const up = event => {
        const dik = Module.keyCodes.get(event.code);
        if (dik !== undefined) held[dik] = 0;
    };
    window.addEventListener('keydown', down, true);
    window.addEventListener('keyup', up, true);
    Module.keys = {held: held, pressed: pressed, any: 0, stop: () => {
        window.removeEventListener('keydown', down, true);
        window.removeEventListener('keyup', up, true);
    }};
});

// Most polls find no key down since the last one: no key to look at.
EM_JS(void, CopyKeys, (BYTE* keys), {
    const k = Module.keys;
    if (!k.any) return;
    k.any = 0;
    for (let i = 0; i < 256; ++i) {
        if (k.held[i] || k.pressed[i]) HEAPU8[keys + i] = 0x80;
        if (k.held[i]) k.any = 1;
    }
    k.pressed.fill(0);
});

EM_JS(void, ReleaseKeys, (), {
    if (!Module.keys) return;
    Module.keys.held.fill(0);
    Module.keys.pressed.fill(0);
});

EM_JS(void, RemoveKeyListeners, (), {
    if (Module.keys) Module.keys.stop();
});

bool listening = false;

}  // namespace

namespace standin::host {

void ReadDeviceKeys(BYTE keys[256]) {
    if (!listening) {
        listening = true;
        for (const KeyMap& key : kKeyMap) AddKey(key.code, key.dik);
        ListenToKeys();
    }
    CopyKeys(keys);
}

void ForgetHeldKeys() { ReleaseKeys(); }

void StopKeyboard() {
    if (listening) RemoveKeyListeners();
}

}  // namespace standin::host
