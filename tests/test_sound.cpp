// The sound device: opened once in priority mode; what OpenSound leaves
// behind at each failure, and that CloseSound gives back exactly that,
// objects before the library.
#include "fixture.h"

namespace {

class SoundTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        faults::SetAudioDevice(true);
    }
    static Calls Closing() { return CallsOf(CloseSound, {"IDirectSound", "FreeLibrary"}); }
};

TEST_F(SoundTest, OpensOnceInPriorityModeAndClosesBufferThenDeviceThenLibrary) {
    EXPECT_EQ(CallsOf([] { EXPECT_TRUE(OpenSound() && OpenSound() && faults::AudioDeviceOpen()); },
                      {"LoadLibraryA DSOUND.DLL", "DirectSoundCreate", "IDirectSound"}),
              (Calls{"LoadLibraryA DSOUND.DLL", "DirectSoundCreate", "IDirectSound::SetCooperativeLevel 2",
                     "IDirectSound::CreateSoundBuffer"}))
        << "the second open keeps the one device";
    EXPECT_EQ(Closing(), (Calls{"IDirectSoundBuffer::Release", "IDirectSound::Release", "FreeLibrary DSOUND.DLL"}));
    EXPECT_TRUE(!sound.primaryBuffer && !sound.directSound && !sound.soundLibrary && !faults::AudioDeviceOpen())
        << "the last object released gives the host's device back";
    EXPECT_TRUE(Closing().empty()) << "closed is closed";
}

TEST_F(SoundTest, CloseGivesBackWhatEachFailedOpenLeft) {
    const Calls device = {"IDirectSound::Release", "FreeLibrary DSOUND.DLL"}, library = {"FreeLibrary DSOUND.DLL"};
    const std::pair<const char*, Calls> cases[] = {  // null: a machine without an audio device
        {"CreateWindowExA", {}}, {"LoadLibraryA DSOUND.DLL", {}}, {"GetProcAddress DirectSoundCreate", library},
        {"DirectSoundCreate", library}, {nullptr, library}, {"IDirectSound::SetCooperativeLevel", device},
        {"IDirectSound::CreateSoundBuffer", device}};
    for (const auto& [fail, close] : cases) {
        SCOPED_TRACE(fail ? fail : "no audio device");
        SetUp();
        faults::SetAudioDevice(fail != nullptr);
        if (fail) faults::Fail(fail);
        EXPECT_EQ(CallsOf([] { EXPECT_EQ(OpenSound(), 0); }, {"LoadLibraryA"}).size(),
                  fail && fail == std::string("CreateWindowExA") ? 0u : 1u);
        EXPECT_EQ(Closing(), close);
        EXPECT_TRUE(!sound.primaryBuffer && !sound.directSound && !sound.soundLibrary && !faults::AudioDeviceOpen());
    }
}

}  // namespace
