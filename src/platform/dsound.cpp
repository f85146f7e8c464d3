// DirectSound on the host's default audio device: the device object, its
// cooperative level and the primary buffer. A machine without an audio
// device behaves like one without a sound card: creation fails with
// DSERR_NODRIVER.
#include "platform/api.h"

#include <cstddef>
#include <set>
#include <vector>

#include "platform/faults.h"
#include "platform/host/host.h"
#include "platform/standin.h"

namespace {

constexpr DWORD kWritePrimary = 4;  // DSSCL_WRITEPRIMARY, the highest level

class DirectSound;
void Destroy(IUnknown* object);

// The primary buffer stands for the device's output; nothing is ever played
// through it here, so it only keeps its parent alive.
class PrimaryBuffer final : public IDirectSoundBuffer {
public:
    explicit PrimaryBuffer(DirectSound* parent);
    ~PrimaryBuffer() override;
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override;

private:
    ULONG refs_ = 1;
    DirectSound* parent_;
};

class DirectSound final : public IDirectSound {
public:
    ~DirectSound() override;
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override;
    HRESULT CreateSoundBuffer(LPCDSBUFFERDESC description, IDirectSoundBuffer** buffer, LPUNKNOWN outer) override;
    HRESULT SetCooperativeLevel(HWND window, DWORD level) override;

    PrimaryBuffer* primary = nullptr;  // the one primary buffer, while it lives
    // A buffer's hold on its device goes without a call of the program's.
    void Drop() {
        if (--refs_ == 0) Destroy(this);
    }

private:
    ULONG refs_ = 1;
    DWORD level_ = 0;
};

std::set<IUnknown*> live;
int openDevices = 0;  // device objects holding the host's audio open

void Destroy(IUnknown* object) {
    if (live.erase(object)) delete object;
}

HRESULT Failed(const char* call, HRESULT result) {
    standin::TraceFailure(call, result);
    return result;
}

// ---------------------------------------------------------------- PrimaryBuffer

PrimaryBuffer::PrimaryBuffer(DirectSound* parent) : parent_(parent) { parent_->AddRef(); }

PrimaryBuffer::~PrimaryBuffer() {
    if (!live.count(parent_)) return;  // a reset is taking everything at once
    if (parent_->primary == this) parent_->primary = nullptr;
    parent_->Drop();
}

HRESULT PrimaryBuffer::QueryInterface(REFIID riid, void** object) {
    return standin::QueryOwnInterface(this, riid, nullptr, object);
}

ULONG PrimaryBuffer::Release() {
    faults::Record("IDirectSoundBuffer::Release");
    ULONG left = --refs_;
    if (left == 0) Destroy(this);
    return left;
}

// ---------------------------------------------------------------- DirectSound

DirectSound::~DirectSound() {
    if (openDevices > 0 && --openDevices == 0) standin::host::CloseAudio();
}

HRESULT DirectSound::QueryInterface(REFIID riid, void** object) {
    return standin::QueryOwnInterface(this, riid, nullptr, object);
}

ULONG DirectSound::Release() {
    faults::Record("IDirectSound::Release");
    ULONG left = --refs_;
    if (left == 0) Destroy(this);
    return left;
}

HRESULT DirectSound::SetCooperativeLevel(HWND window, DWORD level) {
    if (faults::Hit("IDirectSound::SetCooperativeLevel " + std::to_string(level))) return Failed("IDirectSound::SetCooperativeLevel (scheduled)", DSERR_GENERIC);
    // The level is bound to the program's own top-level window.
    if (!window || window != standin::MainWindowHandle()) return Failed("IDirectSound::SetCooperativeLevel", DSERR_INVALIDPARAM);
    if (level < DSSCL_NORMAL || level > kWritePrimary) return Failed("IDirectSound::SetCooperativeLevel", DSERR_INVALIDPARAM);
    level_ = level;
    return DS_OK;
}

HRESULT DirectSound::CreateSoundBuffer(LPCDSBUFFERDESC description, IDirectSoundBuffer** buffer, LPUNKNOWN outer) {
    if (!buffer) return Failed("IDirectSound::CreateSoundBuffer", DSERR_INVALIDPARAM);
    *buffer = nullptr;
    if (faults::Hit("IDirectSound::CreateSoundBuffer")) return Failed("IDirectSound::CreateSoundBuffer (scheduled)", DSERR_GENERIC);
    if (outer) return CLASS_E_NOAGGREGATION;
    // Both published sizes: with and without the 3D algorithm field.
    if (!description || (description->dwSize != sizeof(DSBUFFERDESC) &&
                         description->dwSize != offsetof(DSBUFFERDESC, guid3DAlgorithm)))
        return Failed("IDirectSound::CreateSoundBuffer", DSERR_INVALIDPARAM);
    if (level_ == 0) return Failed("IDirectSound::CreateSoundBuffer", DSERR_PRIOLEVELNEEDED);
    // Only the primary buffer exists here; nothing loads or plays a sound.
    if (!(description->dwFlags & DSBCAPS_PRIMARYBUFFER)) return Failed("IDirectSound::CreateSoundBuffer", E_NOTIMPL);
    // The primary buffer's size and format belong to the device.
    if (description->dwBufferBytes != 0 || description->lpwfxFormat || description->dwReserved != 0)
        return Failed("IDirectSound::CreateSoundBuffer", DSERR_INVALIDPARAM);
    if (primary) {
        primary->AddRef();
    } else {
        primary = new PrimaryBuffer(this);
        live.insert(primary);
    }
    *buffer = primary;
    return DS_OK;
}

}  // namespace

namespace standin {

void ResetDSound() {
    std::vector<IUnknown*> objects(live.begin(), live.end());
    live.clear();
    for (IUnknown* object : objects) delete object;
    if (openDevices > 0) standin::host::CloseAudio();
    openDevices = 0;
}

}  // namespace standin

HRESULT WINAPI DirectSoundCreate(const GUID* device, IDirectSound** object, LPUNKNOWN outer) {
    if (!object) return DSERR_INVALIDPARAM;
    *object = nullptr;
    if (faults::Hit("DirectSoundCreate")) return Failed("DirectSoundCreate (scheduled)", DSERR_GENERIC);
    if (outer) return CLASS_E_NOAGGREGATION;
    // Only the default device is known.
    if (device) return Failed("DirectSoundCreate", DSERR_NODRIVER);
    if (openDevices == 0 && !standin::host::OpenAudio()) return Failed("DirectSoundCreate", DSERR_NODRIVER);
    ++openDevices;
    auto* directSound = new DirectSound;
    live.insert(directSound);
    *object = directSound;
    return DS_OK;
}
