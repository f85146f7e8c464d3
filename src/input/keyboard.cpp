// The keyboard through DirectInput 7: the whole keyboard's state is copied
// once a frame and asked about by scan code (1 is Escape).
#include "input/keyboard.h"

#include "core/runtime.h"
#include "screen/screen.h"

DirectInputState directInputState;
KeyboardState keyboard;

namespace {

typedef HRESULT(WINAPI* DirectInputCreateExFunction)(HINSTANCE, DWORD, REFIID, LPVOID*, LPUNKNOWN);

constexpr int kKeyCount = 256;
constexpr DWORD kDirectInputVersion = 0x0700;
constexpr DWORD kForegroundExclusive = DISCL_EXCLUSIVE | DISCL_FOREGROUND;

// The 32-bit program hands DirectInput these published sizes.
static_assert(sizeof(void*) != 4 || sizeof(DIDATAFORMAT) == 24, "DIDATAFORMAT is 24 bytes on 32-bit Windows");
static_assert(sizeof(void*) != 4 || sizeof(DIOBJECTDATAFORMAT) == 16, "DIOBJECTDATAFORMAT is 16 bytes on 32-bit Windows");
static_assert(sizeof(void*) != 4 || kKeyCount * sizeof(DIOBJECTDATAFORMAT) == 4096, "the object block is 4096 bytes");

}  // namespace

IDirectInput7A* AcquireDirectInput() {
    DirectInputState& di = directInputState;
    if (!di.directInput) {
        di.directInputLibrary = LoadLibraryA("DINPUT.DLL");
        if (di.directInputLibrary) {
            auto create = reinterpret_cast<DirectInputCreateExFunction>(
                reinterpret_cast<void*>(GetProcAddress(di.directInputLibrary, "DirectInputCreateEx")));
            if (create) {
                // Only whether the object was made counts, not the result code.
                create(runtime.instance, kDirectInputVersion, IID_IDirectInput7A,
                       reinterpret_cast<LPVOID*>(&di.directInput), nullptr);
            }
            if (!di.directInput) {
                FreeLibrary(di.directInputLibrary);
                di.directInputLibrary = nullptr;
            }
        }
    }
    // Counted even when creation failed: every acquire is matched by a release.
    ++di.directInputUsers;
    return di.directInput;
}

void ReleaseDirectInput() {
    DirectInputState& di = directInputState;
    --di.directInputUsers;
    if (di.directInput && di.directInputUsers == 0) {
        di.directInput->Release();
        FreeLibrary(di.directInputLibrary);
        di.directInputLibrary = nullptr;
        di.directInput = nullptr;
    }
}

void BuildKeyboardFormat() {
    keyboard.objectFormats = static_cast<DIOBJECTDATAFORMAT*>(
        HeapAlloc(runtime.heap, 0, kKeyCount * sizeof(DIOBJECTDATAFORMAT)));
    if (!keyboard.objectFormats) return;
    // Key i's state lands in byte i: the buffer is indexed by scan code.
    for (int i = 0; i < kKeyCount; ++i) {
        DIOBJECTDATAFORMAT& entry = keyboard.objectFormats[i];
        entry.pguid = &GUID_Key;
        entry.dwOfs = static_cast<DWORD>(i);
        entry.dwType = DIDFT_OPTIONAL | DIDFT_BUTTON | DIDFT_MAKEINSTANCE(i);
        entry.dwFlags = 0;
    }
}

int32_t OpenKeyboard() {
    IDirectInput7A* directInput = AcquireDirectInput();
    keyboard.opened = 1;
    keyboard.device = nullptr;
    if (!directInput) return 0;

    BuildKeyboardFormat();
    // Without the object block the format would describe no keys at all: a
    // keyboard that could never see Escape is no keyboard.
    if (!keyboard.objectFormats) return 0;
    DIDATAFORMAT& format = keyboard.dataFormat;
    format.dwSize = sizeof(DIDATAFORMAT);
    format.dwObjSize = sizeof(DIOBJECTDATAFORMAT);
    format.dwFlags = DIDF_RELAXIS;
    format.dwDataSize = kKeyCount;
    format.dwNumObjs = kKeyCount;
    format.rgodf = keyboard.objectFormats;

    if (directInput->CreateDeviceEx(GUID_SysKeyboard, IID_IDirectInputDevice7A,
                                    reinterpret_cast<LPVOID*>(&keyboard.device), nullptr) != 0)
        return 0;
    if (!keyboard.device) return 0;
    if (keyboard.device->SetDataFormat(&keyboard.dataFormat) != 0) return 0;
    keyboard.acquireState = 1;
    return 1;
}

int32_t PollKeyboard() {
    // Without a device the keys stay as they were (all released).
    if (!keyboard.device || keyboard.acquireState == 0) return 0;
    IDirectInputDevice7A* device = keyboard.device;
    // The level is set at the first poll: the main window only exists for
    // certain once the screen is open, after OpenKeyboard has run.
    if (keyboard.acquireState == 1) {
        device->SetCooperativeLevel(screen.window, kForegroundExclusive);
        device->Acquire();
        keyboard.acquireState = 2;
    }
    if (device->GetDeviceState(kKeyCount, keyboard.keys) == 0) return 1;

    // Access was lost (another window in front, usually): ask for it again so
    // that a later frame reads, and keep the last keys read meanwhile.
    device->Unacquire();
    device->SetCooperativeLevel(nullptr, DISCL_NONEXCLUSIVE);
    device->SetCooperativeLevel(screen.window, kForegroundExclusive);
    device->Acquire();
    return 0;
}

int32_t KeyDown(int32_t code) {
    if (code == -1) {
        // Scan code 255 is not looked at: "any key" means 0 to 254.
        for (int i = 0; i < kKeyCount - 1; ++i) {
            if (keyboard.keys[i] & 0x80) return 1;
        }
        return 0;
    }
    if (code < 0 || code >= kKeyCount) return 0;
    return keyboard.keys[code] & 0x80;
}

void CloseKeyboard() {
    if (!keyboard.opened) return;
    if (keyboard.device) {
        keyboard.device->Unacquire();
        keyboard.device->SetCooperativeLevel(nullptr, DISCL_NONEXCLUSIVE);
        keyboard.device->Release();
        keyboard.device = nullptr;
    }
    keyboard.acquireState = 0;
    // `opened` stays 1: the private heap takes the object block with it at
    // shutdown, and nothing opens the keyboard again.
    ReleaseDirectInput();
}
