// The sound device: what OpenSound leaves behind at each failure, and that
// CloseSound gives back exactly that, objects before the library.
#include <string>
#include <vector>

#include "fixture.h"
#include "screen/window.h"

namespace {

using Calls = std::vector<std::string>;

const std::vector<std::string> kSoundCalls = {"LoadLibraryA DSOUND.DLL", "FreeLibrary DSOUND.DLL", "DirectSoundCreate",
                                              "IDirectSound"};

class SoundTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        runtime.instance = GetModuleHandleA(nullptr);
        faults::SetAudioDevice(true);
    }
};

TEST_F(SoundTest, OpensDeviceInPriorityModeWithItsPrimaryBuffer) {
    faults::StartRecording();
    EXPECT_NE(OpenSound(), 0);
    EXPECT_NE(sound.directSound, nullptr);
    EXPECT_NE(sound.primaryBuffer, nullptr);
    EXPECT_NE(screen.window, nullptr);
    EXPECT_EQ(faults::RecordedMatching(kSoundCalls),
              (Calls{"LoadLibraryA DSOUND.DLL", "DirectSoundCreate", "IDirectSound::SetCooperativeLevel",
                     "IDirectSound::CreateSoundBuffer"}));
}

TEST_F(SoundTest, CloseReleasesBufferThenDeviceThenUnloads) {
    ASSERT_NE(OpenSound(), 0);
    faults::StartRecording();
    CloseSound();
    EXPECT_EQ(faults::RecordedMatching({"IDirectSound", "FreeLibrary"}),
              (Calls{"IDirectSoundBuffer::Release", "IDirectSound::Release", "FreeLibrary DSOUND.DLL"}));
    EXPECT_EQ(sound.primaryBuffer, nullptr);
    EXPECT_EQ(sound.directSound, nullptr);
    EXPECT_EQ(sound.soundLibrary, nullptr);

    // Closed is closed: a second close gives nothing back twice.
    faults::StartRecording();
    CloseSound();
    EXPECT_TRUE(faults::Recorded().empty());
}

TEST_F(SoundTest, OpenAgainKeepsTheOneDevice) {
    ASSERT_NE(OpenSound(), 0);
    IDirectSound* device = sound.directSound;
    faults::StartRecording();
    EXPECT_NE(OpenSound(), 0);
    EXPECT_EQ(sound.directSound, device);
    EXPECT_TRUE(faults::RecordedMatching(kSoundCalls).empty());
}

TEST_F(SoundTest, NoWindowMeansNoLibraryLoaded) {
    faults::Fail("CreateWindowExA");
    faults::StartRecording();
    EXPECT_EQ(OpenSound(), 0);
    EXPECT_TRUE(faults::RecordedMatching({"LoadLibraryA"}).empty());
    CloseSound();
    EXPECT_TRUE(faults::RecordedMatching({"FreeLibrary", "IDirectSound"}).empty());
}

// Each later failure: OpenSound says 0 and keeps what it made; CloseSound
// gives back exactly that.
struct OpenFailure {
    const char* call;
    Calls close;  // what CloseSound then does, in order
};

class SoundOpenFailureTest : public SoundTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(SoundOpenFailureTest, CloseGivesBackWhatTheFailedOpenLeft) {
    faults::Fail(GetParam().call);
    EXPECT_EQ(OpenSound(), 0);
    EXPECT_EQ(sound.primaryBuffer, nullptr);
    faults::StartRecording();
    CloseSound();
    EXPECT_EQ(faults::RecordedMatching({"IDirectSound", "FreeLibrary"}), GetParam().close);
    EXPECT_EQ(sound.directSound, nullptr);
    EXPECT_EQ(sound.soundLibrary, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, SoundOpenFailureTest,
    ::testing::Values(OpenFailure{"LoadLibraryA DSOUND.DLL", {}},
                      OpenFailure{"GetProcAddress DirectSoundCreate", {"FreeLibrary DSOUND.DLL"}},
                      OpenFailure{"DirectSoundCreate", {"FreeLibrary DSOUND.DLL"}},
                      OpenFailure{"IDirectSound::SetCooperativeLevel", {"IDirectSound::Release", "FreeLibrary DSOUND.DLL"}},
                      OpenFailure{"IDirectSound::CreateSoundBuffer", {"IDirectSound::Release", "FreeLibrary DSOUND.DLL"}}),
    [](const ::testing::TestParamInfo<OpenFailure>& info) {
        std::string name = info.param.call;
        for (char& c : name) {
            if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        }
        return name;
    });

TEST_F(SoundTest, MachineWithoutAudioHasNoDevice) {
    faults::SetAudioDevice(false);
    EXPECT_EQ(OpenSound(), 0);
    EXPECT_EQ(sound.directSound, nullptr);
    EXPECT_NE(sound.soundLibrary, nullptr);
    faults::StartRecording();
    CloseSound();
    EXPECT_EQ(faults::RecordedMatching({"IDirectSound", "FreeLibrary"}), (Calls{"FreeLibrary DSOUND.DLL"}));
}

// ------------------------------------------------------------------ stand-in

TEST_F(SoundTest, HeadlessHostHasNoAudioDevice) {
    faults::Reset();  // back to asking the host, which is headless here
    IDirectSound* device = reinterpret_cast<IDirectSound*>(1);
    EXPECT_EQ(DirectSoundCreate(nullptr, &device, nullptr), DSERR_NODRIVER);
    EXPECT_EQ(device, nullptr);
}

TEST_F(SoundTest, StandInChecksLevelAndPrimaryBufferDescription) {
    ASSERT_NE(CreateMainWindow(), 0);
    IDirectSound* device = nullptr;
    ASSERT_EQ(DirectSoundCreate(nullptr, &device, nullptr), DS_OK);
    ASSERT_NE(device, nullptr);

    DSBUFFERDESC description{};
    description.dwSize = sizeof(DSBUFFERDESC);
    description.dwFlags = DSBCAPS_PRIMARYBUFFER;
    IDirectSoundBuffer* buffer = nullptr;
    // No buffer before the level is set; the level binds to our window.
    EXPECT_NE(device->CreateSoundBuffer(&description, &buffer, nullptr), DS_OK);
    EXPECT_EQ(device->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DSERR_INVALIDPARAM);
    EXPECT_EQ(device->SetCooperativeLevel(screen.window, 0), DSERR_INVALIDPARAM);
    ASSERT_EQ(device->SetCooperativeLevel(screen.window, DSSCL_PRIORITY), DS_OK);

    DSBUFFERDESC bad = description;
    bad.dwSize = 12;
    EXPECT_EQ(device->CreateSoundBuffer(&bad, &buffer, nullptr), DSERR_INVALIDPARAM);
    bad = description;
    bad.dwBufferBytes = 4096;  // the primary buffer's size is the device's
    EXPECT_EQ(device->CreateSoundBuffer(&bad, &buffer, nullptr), DSERR_INVALIDPARAM);
    WAVEFORMATEX wave{};
    bad = description;
    bad.lpwfxFormat = &wave;
    EXPECT_EQ(device->CreateSoundBuffer(&bad, &buffer, nullptr), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer, nullptr);

    ASSERT_EQ(device->CreateSoundBuffer(&description, &buffer, nullptr), DS_OK);
    IDirectSoundBuffer* again = nullptr;
    ASSERT_EQ(device->CreateSoundBuffer(&description, &again, nullptr), DS_OK);
    EXPECT_EQ(again, buffer);  // there is one primary buffer

    // The buffers keep the device alive until they go.
    EXPECT_EQ(device->Release(), 1u);
    EXPECT_EQ(again->Release(), 1u);
    EXPECT_EQ(buffer->Release(), 0u);
}

}  // namespace
