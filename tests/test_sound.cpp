// The sound device: what OpenSound leaves behind at each failure, and that
// CloseSound gives back exactly that, objects before the library.
#include <string>
#include <vector>

#include "fixture.h"
#include "screen/window.h"

namespace {

using Calls = std::vector<std::string>;

class SoundTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        runtime.instance = GetModuleHandleA(nullptr);
        faults::SetAudioDevice(true);
    }
    static Calls Closing() {
        faults::StartRecording();
        CloseSound();
        return faults::RecordedMatching({"IDirectSound", "FreeLibrary"});
    }
};

TEST_F(SoundTest, OpensOnceInPriorityModeAndClosesBufferThenDeviceThenLibrary) {
    faults::StartRecording();
    EXPECT_NE(OpenSound(), 0);
    EXPECT_NE(sound.primaryBuffer, nullptr);
    EXPECT_EQ(faults::RecordedMatching({"LoadLibraryA DSOUND.DLL", "DirectSoundCreate", "IDirectSound"}),
              (Calls{"LoadLibraryA DSOUND.DLL", "DirectSoundCreate", "IDirectSound::SetCooperativeLevel",
                     "IDirectSound::CreateSoundBuffer"}));
    // Opening again keeps the one device.
    IDirectSound* device = sound.directSound;
    faults::StartRecording();
    EXPECT_NE(OpenSound(), 0);
    EXPECT_EQ(sound.directSound, device);
    EXPECT_TRUE(faults::RecordedMatching({"LoadLibraryA", "DirectSoundCreate", "IDirectSound"}).empty());

    EXPECT_EQ(Closing(), (Calls{"IDirectSoundBuffer::Release", "IDirectSound::Release", "FreeLibrary DSOUND.DLL"}));
    EXPECT_EQ(sound.primaryBuffer, nullptr);
    EXPECT_EQ(sound.directSound, nullptr);
    EXPECT_EQ(sound.soundLibrary, nullptr);
    EXPECT_TRUE(Closing().empty());  // closed is closed
}

// Each failure: OpenSound says 0 and keeps what it made; CloseSound gives
// back exactly that. Without a window no library is even loaded.
TEST_F(SoundTest, CloseGivesBackWhatEachFailedOpenLeft) {
    const Calls device = {"IDirectSound::Release", "FreeLibrary DSOUND.DLL"}, library = {"FreeLibrary DSOUND.DLL"};
    struct Case {
        const char* fail;  // null: a machine without an audio device
        Calls close;
    };
    for (const Case& c : {Case{"CreateWindowExA", {}}, Case{"LoadLibraryA DSOUND.DLL", {}},
                          Case{"GetProcAddress DirectSoundCreate", library}, Case{"DirectSoundCreate", library},
                          Case{nullptr, library}, Case{"IDirectSound::SetCooperativeLevel", device},
                          Case{"IDirectSound::CreateSoundBuffer", device}}) {
        SCOPED_TRACE(c.fail ? c.fail : "no audio device");
        SetUp();
        faults::SetAudioDevice(c.fail != nullptr);
        if (c.fail) faults::Fail(c.fail);
        faults::StartRecording();
        EXPECT_EQ(OpenSound(), 0);
        const bool noWindow = c.fail && std::string(c.fail) == "CreateWindowExA";
        EXPECT_EQ(faults::RecordedMatching({"LoadLibraryA"}).size(), noWindow ? 0u : 1u);
        EXPECT_EQ(sound.primaryBuffer, nullptr);
        EXPECT_EQ(Closing(), c.close);
        EXPECT_EQ(sound.directSound, nullptr);
        EXPECT_EQ(sound.soundLibrary, nullptr);
    }
}

// ------------------------------------------------------------------ stand-in

TEST_F(SoundTest, StandInChecksLevelAndPrimaryBufferDescription) {
    ASSERT_NE(CreateMainWindow(), 0);
    IDirectSound* device = nullptr;
    ASSERT_EQ(DirectSoundCreate(nullptr, &device, nullptr), DS_OK);
    DSBUFFERDESC description{};
    description.dwSize = sizeof(DSBUFFERDESC);
    description.dwFlags = DSBCAPS_PRIMARYBUFFER;
    IDirectSoundBuffer* buffer = nullptr;
    // No buffer before the level is set; the level binds to our window.
    EXPECT_NE(device->CreateSoundBuffer(&description, &buffer, nullptr), DS_OK);
    EXPECT_EQ(device->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DSERR_INVALIDPARAM);
    EXPECT_EQ(device->SetCooperativeLevel(screen.window, 0), DSERR_INVALIDPARAM);
    ASSERT_EQ(device->SetCooperativeLevel(screen.window, DSSCL_PRIORITY), DS_OK);

    WAVEFORMATEX wave{};
    DSBUFFERDESC bad[3] = {description, description, description};
    bad[0].dwSize = 12;
    bad[1].dwBufferBytes = 4096;  // the primary buffer's size is the device's
    bad[2].lpwfxFormat = &wave;
    for (DSBUFFERDESC& b : bad) EXPECT_EQ(device->CreateSoundBuffer(&b, &buffer, nullptr), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer, nullptr);

    ASSERT_EQ(device->CreateSoundBuffer(&description, &buffer, nullptr), DS_OK);
    IDirectSoundBuffer* again = nullptr;
    ASSERT_EQ(device->CreateSoundBuffer(&description, &again, nullptr), DS_OK);
    EXPECT_EQ(again, buffer);  // there is one primary buffer
    // The buffers keep the device alive until they go.
    EXPECT_EQ(device->Release(), 1u);
    EXPECT_EQ(again->Release(), 1u);
    EXPECT_EQ(buffer->Release(), 0u);

    faults::Reset();  // back to asking the host, which is headless here
    device = reinterpret_cast<IDirectSound*>(1);
    EXPECT_EQ(DirectSoundCreate(nullptr, &device, nullptr), DSERR_NODRIVER);
    EXPECT_EQ(device, nullptr);
}

}  // namespace
