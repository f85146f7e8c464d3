// The keyboard as DirectInput sees it, the same for every host: the host's
// own keys (ReadDeviceKeys), plus keys a test or the environment scripts,
// plus the ways a person ends a program (Ctrl-C, SIGTERM, the window's close
// button, RINGSCROLLER_ESCAPE_AFTER), which all read as Escape held so that
// the demo leaves its loop and exits through EndProgram.
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/host/devices.h"
#include "platform/host/environment.h"
#include "platform/host/host.h"

namespace {

constexpr int kEscape = 0x01;

bool scripted[256];
// The frame from which Escape reads as held (RINGSCROLLER_ESCAPE_AFTER); 0:
// never. Frames are counted at the message loop, not at the keyboard, so
// that the count goes on when there is no keyboard to poll.
long escapeAfter = 0;
bool environmentRead = false;
long frames = 0;
// Set from signal handlers, so lock-free.
std::atomic<bool> escapeRequested{false};

void OnSignal(int) { escapeRequested.store(true); }

// The first Ctrl-C or SIGTERM ends the demo through its own loop; the
// handlers reset themselves, so a second one still ends a program that has
// stopped polling.
void InstallHandlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// In place before main: a signal that comes while the program is still
// starting (loading its font, opening the display) must not kill it either,
// and the first keyboard poll may be a long way off.
const bool handlersAtStart = (InstallHandlers(), true);

void ReadEnvironment() {
    environmentRead = true;
    escapeAfter = 0;
    escapeAfter = standin::host::PositiveCount(std::getenv("RINGSCROLLER_ESCAPE_AFTER"));
}

}  // namespace

namespace standin::host {

void ReadKeys(BYTE keys[256]) {
    std::memset(keys, 0, 256);
    ReadDeviceKeys(keys);
    for (int code = 0; code < 256; ++code) {
        if (scripted[code]) keys[code] = 0x80;
    }
    if (QuitRequested()) keys[kEscape] = 0x80;
}

void RequestEscape() { escapeRequested.store(true); }

void CountFrame() { ++frames; }

bool QuitRequested() {
    if (!environmentRead) ReadEnvironment();
    return escapeRequested.load() || (escapeAfter > 0 && frames >= escapeAfter);
}

void SetKey(int scanCode, bool held) {
    if (scanCode >= 0 && scanCode < 256) scripted[scanCode] = held;
}

void ResetKeyboard() {
    std::memset(scripted, 0, sizeof scripted);
    escapeAfter = 0;
    environmentRead = false;
    frames = 0;
    // A handler that fired has reset itself; put it back.
    if (escapeRequested.exchange(false)) InstallHandlers();
}

void Reset() {
    ResetKeyboard();
    ResetAudio();
}

}  // namespace standin::host
