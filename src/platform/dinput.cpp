// DirectInput 7 for the keyboard: the DirectInput object, the system keyboard
// device, the caller's data format, cooperative levels and acquisition.
//
// The device keeps DirectInput's rules that programs trip over: a data format
// must be set before acquiring, nothing is read while unacquired, and a
// foreground device loses acquisition as soon as its window is not in front
// (the first read after that says DIERR_INPUTLOST, later ones
// DIERR_NOTACQUIRED) and cannot be acquired again until it is.
#include "platform/api.h"

#include <cstring>
#include <set>
#include <vector>

#include "platform/faults.h"
#include "platform/host/devices.h"
#include "platform/host/host.h"
#include "platform/standin.h"

namespace {

// Version refusals, with their published values.
constexpr HRESULT kOldDirectInputVersion = static_cast<HRESULT>(0x8007047Eu);
constexpr HRESULT kBetaDirectInputVersion = static_cast<HRESULT>(0x80070481u);

constexpr DWORD kTypeMask = 0x000000FFu;
constexpr DWORD kAnyInstance = 0xFFFFu;
constexpr int kKeyCount = 256;

class DirectInput;

class KeyboardDevice final : public IDirectInputDevice7A {
public:
    explicit KeyboardDevice(DirectInput* parent);
    ~KeyboardDevice() override;

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override;
    HRESULT Acquire() override;
    HRESULT Unacquire() override;
    HRESULT GetDeviceState(DWORD size, LPVOID data) override;
    HRESULT SetDataFormat(LPCDIDATAFORMAT format) override;
    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;

private:
    struct Slot {
        int scanCode;
        DWORD offset;
    };

    // A foreground device works only while its window is in front, except
    // that a quit forced from outside (Ctrl-C, SIGTERM, the close button)
    // gets through: a program whose window is behind the terminal must
    // still end cleanly.
    bool InFront() const {
        return (flags_ & DISCL_FOREGROUND) == 0 || standin::WindowHasKeyboard(window_) ||
               standin::host::QuitRequested();
    }
    HRESULT Fail(const char* method, HRESULT result) const {
        standin::TraceFailure(std::string("IDirectInputDevice7A::") + method, result);
        return result;
    }

    ULONG refs_ = 1;
    DirectInput* parent_;
    bool formatSet_ = false;
    DWORD dataSize_ = 0;
    std::vector<Slot> slots_;
    // A device whose level was never set is non-exclusive and background.
    DWORD flags_ = DISCL_NONEXCLUSIVE | DISCL_BACKGROUND;
    HWND window_ = nullptr;
    bool acquired_ = false;
};

class DirectInput final : public IDirectInput7A {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override;
    HRESULT CreateDeviceEx(REFGUID device, REFIID iid, LPVOID* object, LPUNKNOWN outer) override;
    // A device's hold on its parent goes without a call of the program's.
    void Drop();

private:
    ULONG refs_ = 1;
};

// Every object still alive, so that a reset can take them all back.
std::set<IUnknown*> live;
// Whether the last read of any keyboard device gave the program its keys.
bool lastReadSucceeded = false;

template <typename T, typename... Args>
T* Make(Args... args) {
    T* object = new T(args...);
    live.insert(object);
    return object;
}

void Destroy(IUnknown* object) {
    if (live.erase(object)) delete object;
}

// ---------------------------------------------------------------- DirectInput

HRESULT DirectInput::QueryInterface(REFIID riid, void** object) {
    return standin::QueryOwnInterface(this, riid, &IID_IDirectInput7A, object);
}

ULONG DirectInput::Release() {
    faults::Record("IDirectInput7A::Release");
    ULONG left = --refs_;
    if (left == 0) Destroy(this);
    return left;
}

void DirectInput::Drop() {
    if (--refs_ == 0) Destroy(this);
}

HRESULT DirectInput::CreateDeviceEx(REFGUID device, REFIID iid, LPVOID* object, LPUNKNOWN outer) {
    if (!object) return DIERR_INVALIDPARAM;
    *object = nullptr;
    if (faults::Hit("IDirectInput7A::CreateDeviceEx")) return DIERR_GENERIC;
    if (outer) return CLASS_E_NOAGGREGATION;
    // Only the system keyboard is attached to this machine.
    if (device != GUID_SysKeyboard) return DIERR_DEVICENOTREG;
    if (iid != IID_IDirectInputDevice7A) return DIERR_NOINTERFACE;
    *object = static_cast<IDirectInputDevice7A*>(Make<KeyboardDevice>(this));
    return DI_OK;
}

// ------------------------------------------------------------ KeyboardDevice

KeyboardDevice::KeyboardDevice(DirectInput* parent) : parent_(parent) { parent_->AddRef(); }

KeyboardDevice::~KeyboardDevice() {
    lastReadSucceeded = false;
    // A reset deletes every object at once; the parent may already be gone.
    if (live.count(parent_)) parent_->Drop();
}

HRESULT KeyboardDevice::QueryInterface(REFIID riid, void** object) {
    return standin::QueryOwnInterface(this, riid, &IID_IDirectInputDevice7A, object);
}

ULONG KeyboardDevice::Release() {
    faults::Record("IDirectInputDevice7A::Release");
    ULONG left = --refs_;
    if (left == 0) Destroy(this);
    return left;
}

HRESULT KeyboardDevice::SetDataFormat(LPCDIDATAFORMAT format) {
    if (faults::Hit("IDirectInputDevice7A::SetDataFormat")) return Fail("SetDataFormat", DIERR_GENERIC);
    if (acquired_) return Fail("SetDataFormat", DIERR_ACQUIRED);
    if (!format || format->dwSize != sizeof(DIDATAFORMAT) || format->dwObjSize != sizeof(DIOBJECTDATAFORMAT))
        return Fail("SetDataFormat", DIERR_INVALIDPARAM);
    // The data block is made of whole DWORDs, as DirectInput insists.
    if (format->dwDataSize == 0 || format->dwDataSize % 4 != 0) return Fail("SetDataFormat", DIERR_INVALIDPARAM);
    if (format->dwNumObjs > 0 && !format->rgodf) return Fail("SetDataFormat", DIERR_INVALIDPARAM);

    std::vector<Slot> slots;
    std::vector<bool> offsetUsed(format->dwDataSize, false);
    std::vector<bool> keyUsed(kKeyCount, false);
    for (DWORD i = 0; i < format->dwNumObjs; ++i) {
        const DIOBJECTDATAFORMAT& object = format->rgodf[i];
        bool optional = (object.dwType & DIDFT_OPTIONAL) != 0;
        DWORD instance = (object.dwType >> 8) & 0xFFFFu;
        // A keyboard has only buttons, and only GUID_Key ones.
        bool matches = (object.dwType & kTypeMask & DIDFT_BUTTON) != 0 && (!object.pguid || *object.pguid == GUID_Key) &&
                       instance != kAnyInstance && instance < static_cast<DWORD>(kKeyCount) && !keyUsed[instance];
        if (!matches) {
            if (optional) continue;
            return Fail("SetDataFormat", DIERR_INVALIDPARAM);
        }
        if (object.dwOfs >= format->dwDataSize || offsetUsed[object.dwOfs]) return Fail("SetDataFormat", DIERR_INVALIDPARAM);
        offsetUsed[object.dwOfs] = true;
        keyUsed[instance] = true;
        slots.push_back(Slot{static_cast<int>(instance), object.dwOfs});
    }
    slots_ = std::move(slots);
    dataSize_ = format->dwDataSize;
    formatSet_ = true;
    return DI_OK;
}

HRESULT KeyboardDevice::SetCooperativeLevel(HWND window, DWORD flags) {
    if (faults::Hit("IDirectInputDevice7A::SetCooperativeLevel " + std::to_string(flags)))
        return Fail("SetCooperativeLevel", DIERR_GENERIC);
    if (acquired_) return Fail("SetCooperativeLevel", DIERR_ACQUIRED);
    bool exclusive = (flags & DISCL_EXCLUSIVE) != 0, nonExclusive = (flags & DISCL_NONEXCLUSIVE) != 0;
    bool foreground = (flags & DISCL_FOREGROUND) != 0, background = (flags & DISCL_BACKGROUND) != 0;
    // Exactly one of each pair; no other bits.
    if (exclusive == nonExclusive || foreground == background ||
        (flags & ~(DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE | DISCL_FOREGROUND | DISCL_BACKGROUND)) != 0)
        return Fail("SetCooperativeLevel", DIERR_INVALIDPARAM);
    // The keyboard cannot be held exclusively while another window has it.
    if (exclusive && background) return Fail("SetCooperativeLevel", E_NOTIMPL);
    // Foreground and exclusive access are bound to our own top-level window.
    HWND main = standin::MainWindowHandle();
    if ((exclusive || foreground) && (!window || window != main)) return Fail("SetCooperativeLevel", DIERR_INVALIDPARAM);
    if (window && window != main) return Fail("SetCooperativeLevel", DIERR_INVALIDPARAM);
    flags_ = flags;
    window_ = window;
    return DI_OK;
}

HRESULT KeyboardDevice::Acquire() {
    if (faults::Hit("IDirectInputDevice7A::Acquire")) return Fail("Acquire", DIERR_GENERIC);
    if (!formatSet_) return Fail("Acquire", DIERR_INVALIDPARAM);
    if (!InFront()) return Fail("Acquire", DIERR_OTHERAPPHASPRIO);
    if (acquired_) return S_FALSE;  // DI_NOEFFECT
    acquired_ = true;
    return DI_OK;
}

HRESULT KeyboardDevice::Unacquire() {
    faults::Record("IDirectInputDevice7A::Unacquire");
    if (!acquired_) return S_FALSE;  // DI_NOEFFECT
    acquired_ = false;
    return DI_OK;
}

HRESULT KeyboardDevice::GetDeviceState(DWORD size, LPVOID data) {
    if (faults::Hit("IDirectInputDevice7A::GetDeviceState")) return Fail("GetDeviceState", DIERR_GENERIC);
    if (!data || (formatSet_ && size != dataSize_)) return Fail("GetDeviceState", DIERR_INVALIDPARAM);
    // The host's keys are taken at every poll, read or not, so that a key
    // pressed while the program could not read belongs to that moment and
    // is not handed over later.
    BYTE keys[kKeyCount];
    standin::host::ReadKeys(keys);
    lastReadSucceeded = false;
    if (!acquired_) return Fail("GetDeviceState", DIERR_NOTACQUIRED);
    if (!InFront()) {
        acquired_ = false;
        return Fail("GetDeviceState", DIERR_INPUTLOST);
    }
    lastReadSucceeded = true;
    auto* out = static_cast<BYTE*>(data);
    std::memset(out, 0, size);
    for (const Slot& slot : slots_) out[slot.offset] = keys[slot.scanCode] & 0x80;
    return DI_OK;
}

}  // namespace

namespace standin {

void ResetDInput() {
    std::vector<IUnknown*> objects(live.begin(), live.end());
    live.clear();
    for (IUnknown* object : objects) delete object;
    lastReadSucceeded = false;
}

bool KeyboardReadsQuit() { return lastReadSucceeded; }

}  // namespace standin

HRESULT WINAPI DirectInputCreateEx(HINSTANCE instance, DWORD version, REFIID iid, LPVOID* object, LPUNKNOWN outer) {
    if (!object) return DIERR_INVALIDPARAM;
    *object = nullptr;
    if (faults::Hit("DirectInputCreateEx")) {
        standin::TraceFailure("DirectInputCreateEx (scheduled)", DIERR_GENERIC);
        return DIERR_GENERIC;
    }
    if (outer) return CLASS_E_NOAGGREGATION;
    if (!instance) return DIERR_INVALIDPARAM;
    if (version < DIRECTINPUT_VERSION) return kOldDirectInputVersion;
    if (version > DIRECTINPUT_VERSION) return kBetaDirectInputVersion;
    if (iid != IID_IDirectInput7A) return DIERR_NOINTERFACE;
    *object = static_cast<IDirectInput7A*>(Make<DirectInput>());
    return DI_OK;
}
