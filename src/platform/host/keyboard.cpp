// The host keyboard as DirectInput sees it: SDL2's key state (while SDL
// video is up) mapped to DirectInput scan codes, plus keys a test or the
// environment scripts, plus the ways a person ends a program on Linux
// (Ctrl-C, SIGTERM, the window's close button), which all read as Escape
// held so that the demo leaves its loop and exits through EndProgram.
#include <SDL.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/host/devices.h"
#include "platform/host/host.h"

namespace {

struct KeyMap {
    SDL_Scancode sdl;
    BYTE dik;
};

// A 105-key keyboard (ISO layout, with the Windows and menu keys), plus the
// Japanese and Brazilian extra keys and the common media keys. Extended keys
// (the right-hand block, right Ctrl/Alt, keypad Enter and /) have bit 7 of
// their scan code set, as in DirectInput.
constexpr KeyMap kKeyMap[] = {
    {SDL_SCANCODE_ESCAPE, 0x01},
    {SDL_SCANCODE_1, 0x02}, {SDL_SCANCODE_2, 0x03}, {SDL_SCANCODE_3, 0x04}, {SDL_SCANCODE_4, 0x05},
    {SDL_SCANCODE_5, 0x06}, {SDL_SCANCODE_6, 0x07}, {SDL_SCANCODE_7, 0x08}, {SDL_SCANCODE_8, 0x09},
    {SDL_SCANCODE_9, 0x0A}, {SDL_SCANCODE_0, 0x0B}, {SDL_SCANCODE_MINUS, 0x0C}, {SDL_SCANCODE_EQUALS, 0x0D},
    {SDL_SCANCODE_BACKSPACE, 0x0E}, {SDL_SCANCODE_TAB, 0x0F},
    {SDL_SCANCODE_Q, 0x10}, {SDL_SCANCODE_W, 0x11}, {SDL_SCANCODE_E, 0x12}, {SDL_SCANCODE_R, 0x13},
    {SDL_SCANCODE_T, 0x14}, {SDL_SCANCODE_Y, 0x15}, {SDL_SCANCODE_U, 0x16}, {SDL_SCANCODE_I, 0x17},
    {SDL_SCANCODE_O, 0x18}, {SDL_SCANCODE_P, 0x19}, {SDL_SCANCODE_LEFTBRACKET, 0x1A},
    {SDL_SCANCODE_RIGHTBRACKET, 0x1B}, {SDL_SCANCODE_RETURN, 0x1C}, {SDL_SCANCODE_LCTRL, 0x1D},
    {SDL_SCANCODE_A, 0x1E}, {SDL_SCANCODE_S, 0x1F}, {SDL_SCANCODE_D, 0x20}, {SDL_SCANCODE_F, 0x21},
    {SDL_SCANCODE_G, 0x22}, {SDL_SCANCODE_H, 0x23}, {SDL_SCANCODE_J, 0x24}, {SDL_SCANCODE_K, 0x25},
    {SDL_SCANCODE_L, 0x26}, {SDL_SCANCODE_SEMICOLON, 0x27}, {SDL_SCANCODE_APOSTROPHE, 0x28},
    {SDL_SCANCODE_GRAVE, 0x29}, {SDL_SCANCODE_LSHIFT, 0x2A}, {SDL_SCANCODE_BACKSLASH, 0x2B},
    // The ISO key left of Enter sits where the US backslash is.
    {SDL_SCANCODE_NONUSHASH, 0x2B},
    {SDL_SCANCODE_Z, 0x2C}, {SDL_SCANCODE_X, 0x2D}, {SDL_SCANCODE_C, 0x2E}, {SDL_SCANCODE_V, 0x2F},
    {SDL_SCANCODE_B, 0x30}, {SDL_SCANCODE_N, 0x31}, {SDL_SCANCODE_M, 0x32}, {SDL_SCANCODE_COMMA, 0x33},
    {SDL_SCANCODE_PERIOD, 0x34}, {SDL_SCANCODE_SLASH, 0x35}, {SDL_SCANCODE_RSHIFT, 0x36},
    {SDL_SCANCODE_KP_MULTIPLY, 0x37}, {SDL_SCANCODE_LALT, 0x38}, {SDL_SCANCODE_SPACE, 0x39},
    {SDL_SCANCODE_CAPSLOCK, 0x3A},
    {SDL_SCANCODE_F1, 0x3B}, {SDL_SCANCODE_F2, 0x3C}, {SDL_SCANCODE_F3, 0x3D}, {SDL_SCANCODE_F4, 0x3E},
    {SDL_SCANCODE_F5, 0x3F}, {SDL_SCANCODE_F6, 0x40}, {SDL_SCANCODE_F7, 0x41}, {SDL_SCANCODE_F8, 0x42},
    {SDL_SCANCODE_F9, 0x43}, {SDL_SCANCODE_F10, 0x44},
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x45}, {SDL_SCANCODE_SCROLLLOCK, 0x46},
    {SDL_SCANCODE_KP_7, 0x47}, {SDL_SCANCODE_KP_8, 0x48}, {SDL_SCANCODE_KP_9, 0x49},
    {SDL_SCANCODE_KP_MINUS, 0x4A}, {SDL_SCANCODE_KP_4, 0x4B}, {SDL_SCANCODE_KP_5, 0x4C},
    {SDL_SCANCODE_KP_6, 0x4D}, {SDL_SCANCODE_KP_PLUS, 0x4E}, {SDL_SCANCODE_KP_1, 0x4F},
    {SDL_SCANCODE_KP_2, 0x50}, {SDL_SCANCODE_KP_3, 0x51}, {SDL_SCANCODE_KP_0, 0x52},
    {SDL_SCANCODE_KP_PERIOD, 0x53},
    {SDL_SCANCODE_NONUSBACKSLASH, 0x56},  // DIK_OEM_102, the extra ISO key
    {SDL_SCANCODE_F11, 0x57}, {SDL_SCANCODE_F12, 0x58},
    {SDL_SCANCODE_F13, 0x64}, {SDL_SCANCODE_F14, 0x65}, {SDL_SCANCODE_F15, 0x66},
    {SDL_SCANCODE_INTERNATIONAL2, 0x70},  // DIK_KANA
    {SDL_SCANCODE_INTERNATIONAL1, 0x73},  // DIK_ABNT_C1
    {SDL_SCANCODE_INTERNATIONAL4, 0x79},  // DIK_CONVERT
    {SDL_SCANCODE_INTERNATIONAL5, 0x7B},  // DIK_NOCONVERT
    {SDL_SCANCODE_INTERNATIONAL3, 0x7D},  // DIK_YEN
    {SDL_SCANCODE_KP_COMMA, 0xB3},        // DIK_NUMPADCOMMA
    {SDL_SCANCODE_KP_EQUALS, 0x8D},
    {SDL_SCANCODE_AUDIOPREV, 0x90}, {SDL_SCANCODE_AUDIONEXT, 0x99},
    {SDL_SCANCODE_KP_ENTER, 0x9C}, {SDL_SCANCODE_RCTRL, 0x9D},
    {SDL_SCANCODE_MUTE, 0xA0}, {SDL_SCANCODE_CALCULATOR, 0xA1}, {SDL_SCANCODE_AUDIOPLAY, 0xA2},
    {SDL_SCANCODE_AUDIOSTOP, 0xA4}, {SDL_SCANCODE_VOLUMEDOWN, 0xAE}, {SDL_SCANCODE_VOLUMEUP, 0xB0},
    {SDL_SCANCODE_AC_HOME, 0xB2},
    {SDL_SCANCODE_KP_DIVIDE, 0xB5}, {SDL_SCANCODE_PRINTSCREEN, 0xB7}, {SDL_SCANCODE_RALT, 0xB8},
    {SDL_SCANCODE_PAUSE, 0xC5}, {SDL_SCANCODE_HOME, 0xC7}, {SDL_SCANCODE_UP, 0xC8},
    {SDL_SCANCODE_PAGEUP, 0xC9}, {SDL_SCANCODE_LEFT, 0xCB}, {SDL_SCANCODE_RIGHT, 0xCD},
    {SDL_SCANCODE_END, 0xCF}, {SDL_SCANCODE_DOWN, 0xD0}, {SDL_SCANCODE_PAGEDOWN, 0xD1},
    {SDL_SCANCODE_INSERT, 0xD2}, {SDL_SCANCODE_DELETE, 0xD3},
    {SDL_SCANCODE_LGUI, 0xDB}, {SDL_SCANCODE_RGUI, 0xDC}, {SDL_SCANCODE_APPLICATION, 0xDD},
    {SDL_SCANCODE_POWER, 0xDE}, {SDL_SCANCODE_SLEEP, 0xDF},
    {SDL_SCANCODE_AC_SEARCH, 0xE5}, {SDL_SCANCODE_AC_BOOKMARKS, 0xE6}, {SDL_SCANCODE_AC_REFRESH, 0xE7},
    {SDL_SCANCODE_AC_STOP, 0xE8}, {SDL_SCANCODE_AC_FORWARD, 0xE9}, {SDL_SCANCODE_AC_BACK, 0xEA},
    {SDL_SCANCODE_COMPUTER, 0xEB}, {SDL_SCANCODE_MAIL, 0xEC}, {SDL_SCANCODE_MEDIASELECT, 0xED},
};

constexpr int kEscape = 0x01;

// DirectInput scan code of an SDL scancode; 0 for keys DirectInput lacks.
BYTE ScanCode(SDL_Scancode code) {
    for (const KeyMap& key : kKeyMap) {
        if (key.sdl == code) return key.dik;
    }
    return 0;
}

bool scripted[256];
// The poll from which Escape reads as held (RINGSCROLLER_ESCAPE_AFTER); 0: never.
long escapeAfter = 0;
bool environmentRead = false;
long polls = 0;
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
    const char* value = std::getenv("RINGSCROLLER_ESCAPE_AFTER");
    if (!value || !*value) return;
    char* end = nullptr;
    long n = std::strtol(value, &end, 10);
    if (*end == '\0' && n > 0) escapeAfter = n;
}

}  // namespace

namespace standin::host {

void ReadKeys(BYTE keys[256]) {
    if (!environmentRead) ReadEnvironment();
    ++polls;
    std::memset(keys, 0, 256);
    // SDL's key state exists only while its video is up (a window or full
    // screen); headless runs have no keyboard but the scripted one.
    if (VideoActive()) {
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
    for (int code = 0; code < 256; ++code) {
        if (scripted[code]) keys[code] = 0x80;
    }
    if (escapeRequested.load() || (escapeAfter > 0 && polls >= escapeAfter)) keys[kEscape] = 0x80;
}

void RequestEscape() { escapeRequested.store(true); }

bool QuitRequested() {
    if (!environmentRead) ReadEnvironment();
    return escapeRequested.load() || (escapeAfter > 0 && polls >= escapeAfter);
}

void SetKey(int scanCode, bool held) {
    if (scanCode >= 0 && scanCode < 256) scripted[scanCode] = held;
}

void ResetKeyboard() {
    std::memset(scripted, 0, sizeof scripted);
    escapeAfter = 0;
    environmentRead = false;
    polls = 0;
    // A handler that fired has reset itself; put it back.
    if (escapeRequested.exchange(false)) InstallHandlers();
}

void Reset() {
    ResetKeyboard();
    ResetAudio();
}

}  // namespace standin::host
