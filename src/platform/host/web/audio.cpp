// The web host's audio device: a Web Audio context. Nothing in the program
// plays a sound, so it stands only for "this machine has a sound card"; a
// page where the browser allows no audio yet (no user gesture) has none,
// exactly as a machine without a sound card.
#include <emscripten.h>

#include "platform/host/devices.h"
#include "platform/host/host.h"

namespace {

// A context the browser lets run says so within a moment; one held back by
// the autoplay rules stays suspended.
EM_ASYNC_JS(int, OpenContext, (), {
    const Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) return 0;
    let context;
    try {
        context = new Context();
    } catch (e) {
        return 0;
    }
    if (context.state !== 'running') {
        await Promise.race([context.resume(), new Promise(resolve => setTimeout(resolve, 50))]);
    }
    if (context.state !== 'running') {
        context.close();
        return 0;
    }
    Module.audio = context;
    return 1;
});

EM_JS(void, CloseContext, (), {
    if (Module.audio) Module.audio.close();
    Module.audio = null;
});

bool deviceOpen = false;

}  // namespace

namespace standin::host {

bool OpenAudio() {
    if (!deviceOpen) deviceOpen = OpenContext() != 0;
    return deviceOpen;
}

void CloseAudio() {
    if (deviceOpen) CloseContext();
    deviceOpen = false;
}

void ResetAudio() { CloseAudio(); }

}  // namespace standin::host
