// The keyboard: DirectInput's object shared by use count, the device's
// data format, polling, focus loss and recovery, and the host's scripted
// and environment-driven keys.
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "fixture.h"
#include "platform/host/host.h"
#include "screen/window.h"

namespace {

using Calls = std::vector<std::string>;

class KeyboardTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        runtime.instance = GetModuleHandleA(nullptr);
    }
    // The window foreground access binds to; the screen system makes it.
    void MakeWindow() {
        ASSERT_NE(CreateMainWindow(), 0);
        ASSERT_NE(screen.window, nullptr);
    }
};

TEST_F(KeyboardTest, EscapeHeldReadsAs128AndOnlyAfterAPoll) {
    MakeWindow();
    ASSERT_EQ(OpenKeyboard(), 1);
    faults::HoldKey(kEscapeKey, true);
    // Before the first successful poll every key reads as released.
    EXPECT_EQ(KeyDown(kEscapeKey), 0);
    EXPECT_EQ(KeyDown(-1), 0);

    EXPECT_EQ(PollKeyboard(), 1);
    EXPECT_EQ(KeyDown(kEscapeKey), 128);
    EXPECT_EQ(KeyDown(-1), 1);
    EXPECT_EQ(KeyDown(2), 0);

    faults::HoldKey(kEscapeKey, false);
    EXPECT_EQ(PollKeyboard(), 1);
    EXPECT_EQ(KeyDown(kEscapeKey), 0);
}

TEST_F(KeyboardTest, EachKeyLandsInTheByteOfItsScanCode) {
    MakeWindow();
    ASSERT_EQ(OpenKeyboard(), 1);
    const int held[] = {0x00, 0x1C, 0x39, 0x9C, 0xC8, 0xFF};
    for (int code : held) faults::HoldKey(code, true);
    ASSERT_EQ(PollKeyboard(), 1);
    for (int code = 0; code < 256; ++code) {
        bool expected = false;
        for (int h : held) expected = expected || h == code;
        EXPECT_EQ(keyboard.keys[code], expected ? 0x80 : 0x00) << "scan code " << code;
    }
}

TEST_F(KeyboardTest, AnyKeyLooksAtScanCodesBelow255Only) {
    MakeWindow();
    ASSERT_EQ(OpenKeyboard(), 1);
    faults::HoldKey(255, true);
    ASSERT_EQ(PollKeyboard(), 1);
    EXPECT_EQ(KeyDown(255), 128);
    EXPECT_EQ(KeyDown(-1), 0);

    faults::HoldKey(254, true);
    ASSERT_EQ(PollKeyboard(), 1);
    EXPECT_EQ(KeyDown(-1), 1);

    faults::HoldKey(254, false);
    faults::HoldKey(255, false);
    faults::HoldKey(0, true);
    ASSERT_EQ(PollKeyboard(), 1);
    EXPECT_EQ(KeyDown(-1), 1);
}

TEST_F(KeyboardTest, CodesOutsideTheKeyboardReadAsReleased) {
    MakeWindow();
    ASSERT_EQ(OpenKeyboard(), 1);
    for (int code = 0; code < 256; ++code) faults::HoldKey(code, true);
    ASSERT_EQ(PollKeyboard(), 1);
    EXPECT_EQ(KeyDown(256), 0);
    EXPECT_EQ(KeyDown(-2), 0);
    EXPECT_EQ(KeyDown(1 << 30), 0);
    EXPECT_EQ(KeyDown(INT32_MIN), 0);
    EXPECT_EQ(KeyDown(0), 128);
}

TEST_F(KeyboardTest, FocusLossKeepsTheLastKeysUntilTheWindowIsInFrontAgain) {
    MakeWindow();
    ASSERT_EQ(OpenKeyboard(), 1);
    faults::HoldKey(kEscapeKey, true);
    ASSERT_EQ(PollKeyboard(), 1);
    ASSERT_EQ(KeyDown(kEscapeKey), 128);

    faults::SetForeground(false);
    faults::HoldKey(kEscapeKey, false);
    faults::HoldKey(0x1C, true);
    // Refused while another window is in front, however often it is asked.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(PollKeyboard(), 0) << "poll " << i;
        EXPECT_EQ(KeyDown(kEscapeKey), 128);
        EXPECT_EQ(KeyDown(0x1C), 0);
    }
    EXPECT_EQ(keyboard.acquireState, 2);

    faults::SetForeground(true);
    // The poll that finds the device unacquired acquires it again; reading
    // resumes no later than the one after.
    int32_t first = PollKeyboard();
    int32_t second = PollKeyboard();
    EXPECT_EQ(second, 1);
    (void)first;
    EXPECT_EQ(KeyDown(kEscapeKey), 0);
    EXPECT_EQ(KeyDown(0x1C), 128);
}

// Ctrl-C in the terminal or the close button must end the demo even while
// its window is behind another one.
TEST_F(KeyboardTest, AQuitFromOutsideGetsThroughWhileTheWindowIsBehind) {
    MakeWindow();
    ASSERT_EQ(OpenKeyboard(), 1);
    ASSERT_EQ(PollKeyboard(), 1);
    faults::SetForeground(false);
    EXPECT_EQ(PollKeyboard(), 0);
    EXPECT_EQ(PollKeyboard(), 0);
    EXPECT_EQ(KeyDown(kEscapeKey), 0);

    standin::host::RequestEscape();
    PollKeyboard();  // may still find the device unacquired; acquires it
    EXPECT_EQ(PollKeyboard(), 1);
    EXPECT_EQ(KeyDown(kEscapeKey), 128);
}

TEST_F(KeyboardTest, AFailedReadAsksForAccessAgainAndTheNextPollReads) {
    MakeWindow();
    ASSERT_EQ(OpenKeyboard(), 1);
    faults::HoldKey(3, true);
    ASSERT_EQ(PollKeyboard(), 1);
    faults::HoldKey(3, false);

    faults::Fail("IDirectInputDevice7A::GetDeviceState", 1);
    faults::StartRecording();
    EXPECT_EQ(PollKeyboard(), 0);
    EXPECT_EQ(KeyDown(3), 128);
    EXPECT_EQ(faults::RecordedMatching({"IDirectInputDevice7A::"}),
              (Calls{"IDirectInputDevice7A::GetDeviceState", "IDirectInputDevice7A::Unacquire",
                     "IDirectInputDevice7A::SetCooperativeLevel", "IDirectInputDevice7A::SetCooperativeLevel",
                     "IDirectInputDevice7A::Acquire"}));
    EXPECT_EQ(PollKeyboard(), 1);
    EXPECT_EQ(KeyDown(3), 0);
}

TEST_F(KeyboardTest, FirstPollBindsTheDeviceToTheMainWindow) {
    MakeWindow();
    ASSERT_EQ(OpenKeyboard(), 1);
    EXPECT_EQ(keyboard.acquireState, 1);
    faults::StartRecording();
    ASSERT_EQ(PollKeyboard(), 1);
    ASSERT_EQ(PollKeyboard(), 1);
    // The level is set and the device acquired once, not every frame.
    EXPECT_EQ(faults::RecordedMatching({"IDirectInputDevice7A::"}),
              (Calls{"IDirectInputDevice7A::SetCooperativeLevel", "IDirectInputDevice7A::Acquire",
                     "IDirectInputDevice7A::GetDeviceState", "IDirectInputDevice7A::GetDeviceState"}));
    EXPECT_EQ(keyboard.acquireState, 2);
}

TEST_F(KeyboardTest, DirectInputIsSharedByUseCount) {
    faults::StartRecording();
    IDirectInput7A* first = AcquireDirectInput();
    IDirectInput7A* second = AcquireDirectInput();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(directInputState.directInputUsers, 2);
    EXPECT_EQ(faults::RecordedMatching({"LoadLibraryA", "DirectInputCreateEx"}),
              (Calls{"LoadLibraryA DINPUT.DLL", "DirectInputCreateEx"}));

    ReleaseDirectInput();
    EXPECT_EQ(directInputState.directInput, first);
    EXPECT_TRUE(faults::RecordedMatching({"IDirectInput7A::Release", "FreeLibrary"}).empty());

    ReleaseDirectInput();
    EXPECT_EQ(directInputState.directInput, nullptr);
    EXPECT_EQ(directInputState.directInputUsers, 0);
    EXPECT_EQ(faults::RecordedMatching({"IDirectInput7A::Release", "FreeLibrary"}),
              (Calls{"IDirectInput7A::Release", "FreeLibrary DINPUT.DLL"}));
}

TEST_F(KeyboardTest, CloseGivesBackTheDeviceThenDirectInputThenTheLibrary) {
    MakeWindow();
    ASSERT_EQ(OpenKeyboard(), 1);
    ASSERT_EQ(PollKeyboard(), 1);
    faults::StartRecording();
    CloseKeyboard();
    EXPECT_EQ(faults::RecordedMatching({"IDirectInput", "FreeLibrary"}),
              (Calls{"IDirectInputDevice7A::Unacquire", "IDirectInputDevice7A::SetCooperativeLevel",
                     "IDirectInputDevice7A::Release", "IDirectInput7A::Release", "FreeLibrary DINPUT.DLL"}));
    EXPECT_EQ(keyboard.device, nullptr);
    EXPECT_EQ(directInputState.directInput, nullptr);
    // Nothing is left to poll.
    EXPECT_EQ(PollKeyboard(), 0);
}

TEST_F(KeyboardTest, WithoutTheObjectBlockNoKeyIsDescribedAndNothingCrashes) {
    MakeWindow();
    faults::Fail("HeapAlloc");
    OpenKeyboard();
    EXPECT_EQ(keyboard.objectFormats, nullptr);
    EXPECT_EQ(keyboard.dataFormat.dwNumObjs, 0u);
    faults::HoldKey(kEscapeKey, true);
    PollKeyboard();
    EXPECT_EQ(KeyDown(kEscapeKey), 0);
    CloseKeyboard();
    EXPECT_EQ(directInputState.directInputUsers, 0);
}

TEST_F(KeyboardTest, CloseWithoutOpenDoesNothing) {
    faults::StartRecording();
    CloseKeyboard();
    EXPECT_TRUE(faults::Recorded().empty());
    EXPECT_EQ(directInputState.directInputUsers, 0);
}

TEST_F(KeyboardTest, PollWithoutADeviceLeavesTheKeysAlone) {
    keyboard.keys[7] = 0x80;
    EXPECT_EQ(PollKeyboard(), 0);
    EXPECT_EQ(KeyDown(7), 128);
}

// Each way the keyboard can fail to open: OpenKeyboard says 0, a loaded
// library is unloaded again, polls do nothing and close balances the count.
struct OpenFailure {
    const char* call;
    bool libraryLoaded;    // the library was loaded before the failure
    bool directInputMade;  // the DirectInput object exists after the failure
    bool deviceMade;
};

class KeyboardOpenFailureTest : public KeyboardTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(KeyboardOpenFailureTest, OpenReportsFailureAndCloseBalances) {
    const OpenFailure& f = GetParam();
    faults::Fail(f.call);
    faults::StartRecording();
    EXPECT_EQ(OpenKeyboard(), 0);
    EXPECT_EQ(keyboard.opened, 1);
    EXPECT_EQ(directInputState.directInputUsers, 1);
    EXPECT_EQ(directInputState.directInput != nullptr, f.directInputMade);
    EXPECT_EQ(keyboard.device != nullptr, f.deviceMade);
    size_t unloadsAtOpen = faults::RecordedMatching({"FreeLibrary"}).size();
    EXPECT_EQ(unloadsAtOpen, f.libraryLoaded && !f.directInputMade ? 1u : 0u);

    faults::HoldKey(kEscapeKey, true);
    EXPECT_EQ(PollKeyboard(), 0);
    EXPECT_EQ(KeyDown(kEscapeKey), 0);

    CloseKeyboard();
    EXPECT_EQ(directInputState.directInputUsers, 0);
    EXPECT_EQ(directInputState.directInput, nullptr);
    Calls unloads = faults::RecordedMatching({"FreeLibrary"});
    EXPECT_EQ(unloads.size(), f.libraryLoaded ? 1u : 0u);
    if (f.deviceMade) {
        Calls releases = faults::RecordedMatching({"IDirectInputDevice7A::Release", "IDirectInput7A::Release"});
        EXPECT_EQ(releases, (Calls{"IDirectInputDevice7A::Release", "IDirectInput7A::Release"}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, KeyboardOpenFailureTest,
    ::testing::Values(OpenFailure{"LoadLibraryA DINPUT.DLL", false, false, false},
                      OpenFailure{"GetProcAddress DirectInputCreateEx", true, false, false},
                      OpenFailure{"DirectInputCreateEx", true, false, false},
                      OpenFailure{"IDirectInput7A::CreateDeviceEx", true, true, false},
                      OpenFailure{"IDirectInputDevice7A::SetDataFormat", true, true, true}),
    [](const ::testing::TestParamInfo<OpenFailure>& info) {
        std::string name = info.param.call;
        for (char& c : name) {
            if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        }
        return name;
    });

// ------------------------------------------------------------------ stand-in

class DirectInputStandInTest : public KeyboardTest {
protected:
    IDirectInputDevice7A* MakeDevice() {
        LPVOID object = nullptr;
        EXPECT_EQ(DirectInputCreateEx(runtime.instance, 0x0700, IID_IDirectInput7A, &object, nullptr), DI_OK);
        directInput_ = static_cast<IDirectInput7A*>(object);
        LPVOID device = nullptr;
        EXPECT_EQ(directInput_->CreateDeviceEx(GUID_SysKeyboard, IID_IDirectInputDevice7A, &device, nullptr), DI_OK);
        return static_cast<IDirectInputDevice7A*>(device);
    }
    IDirectInput7A* directInput_ = nullptr;
};

TEST_F(DirectInputStandInTest, CreationChecksVersionInterfaceAndInstance) {
    LPVOID object = reinterpret_cast<LPVOID>(1);
    EXPECT_NE(DirectInputCreateEx(runtime.instance, 0x0500, IID_IDirectInput7A, &object, nullptr), DI_OK);
    EXPECT_EQ(object, nullptr);
    EXPECT_NE(DirectInputCreateEx(runtime.instance, 0x0800, IID_IDirectInput7A, &object, nullptr), DI_OK);
    EXPECT_EQ(DirectInputCreateEx(runtime.instance, 0x0700, IID_IDirectInputDevice7A, &object, nullptr), DIERR_NOINTERFACE);
    EXPECT_EQ(DirectInputCreateEx(nullptr, 0x0700, IID_IDirectInput7A, &object, nullptr), DIERR_INVALIDPARAM);
    EXPECT_EQ(object, nullptr);

    ASSERT_EQ(DirectInputCreateEx(runtime.instance, 0x0700, IID_IDirectInput7A, &object, nullptr), DI_OK);
    auto* di = static_cast<IDirectInput7A*>(object);
    LPVOID device = nullptr;
    EXPECT_EQ(di->CreateDeviceEx(GUID_Key, IID_IDirectInputDevice7A, &device, nullptr), DIERR_DEVICENOTREG);
    EXPECT_EQ(di->CreateDeviceEx(GUID_SysKeyboard, IID_IDirectInput7A, &device, nullptr), DIERR_NOINTERFACE);
    EXPECT_EQ(device, nullptr);
    di->Release();
}

TEST_F(DirectInputStandInTest, DataFormatOffsetsAreHonouredAndBadFormatsRefused) {
    MakeWindow();
    IDirectInputDevice7A* device = MakeDevice();
    ASSERT_NE(device, nullptr);
    // Nothing to read before a format is set, and nothing can be acquired.
    EXPECT_EQ(device->Acquire(), DIERR_INVALIDPARAM);

    DIOBJECTDATAFORMAT objects[2] = {
        {&GUID_Key, 6, DIDFT_BUTTON | DIDFT_MAKEINSTANCE(DIK_ESCAPE), 0},
        {&GUID_Key, 1, DIDFT_BUTTON | DIDFT_MAKEINSTANCE(0x39), 0},
    };
    DIDATAFORMAT format = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 8, 2, objects};

    DIDATAFORMAT bad = format;
    bad.dwSize = sizeof(DIDATAFORMAT) + 4;
    EXPECT_EQ(device->SetDataFormat(&bad), DIERR_INVALIDPARAM);
    bad = format;
    bad.dwObjSize = 4;
    EXPECT_EQ(device->SetDataFormat(&bad), DIERR_INVALIDPARAM);
    bad = format;
    bad.dwDataSize = 6;  // not whole DWORDs
    EXPECT_EQ(device->SetDataFormat(&bad), DIERR_INVALIDPARAM);
    bad = format;
    bad.dwDataSize = 4;  // offset 6 lies outside
    EXPECT_EQ(device->SetDataFormat(&bad), DIERR_INVALIDPARAM);
    bad = format;
    bad.rgodf = nullptr;
    EXPECT_EQ(device->SetDataFormat(&bad), DIERR_INVALIDPARAM);
    DIOBJECTDATAFORMAT clash[2] = {objects[0], objects[1]};
    clash[1].dwOfs = 6;
    bad = format;
    bad.rgodf = clash;
    EXPECT_EQ(device->SetDataFormat(&bad), DIERR_INVALIDPARAM);
    EXPECT_EQ(device->SetDataFormat(nullptr), DIERR_INVALIDPARAM);

    ASSERT_EQ(device->SetDataFormat(&format), DI_OK);
    ASSERT_EQ(device->Acquire(), DI_OK);
    faults::HoldKey(DIK_ESCAPE, true);
    faults::HoldKey(0x39, true);
    faults::HoldKey(0x1C, true);  // not in the format: lands nowhere
    BYTE data[8];
    std::memset(data, 0xAA, sizeof data);
    EXPECT_EQ(device->GetDeviceState(4, data), DIERR_INVALIDPARAM);
    ASSERT_EQ(device->GetDeviceState(8, data), DI_OK);
    const BYTE expected[8] = {0, 0x80, 0, 0, 0, 0, 0x80, 0};
    EXPECT_EQ(std::memcmp(data, expected, sizeof data), 0);
    // The format cannot change under an acquired device.
    EXPECT_EQ(device->SetDataFormat(&format), DIERR_ACQUIRED);

    device->Release();
    directInput_->Release();
}

TEST_F(DirectInputStandInTest, ForegroundDeviceLosesInputThenStaysUnacquired) {
    MakeWindow();
    IDirectInputDevice7A* device = MakeDevice();
    ASSERT_NE(device, nullptr);
    DIOBJECTDATAFORMAT object = {&GUID_Key, 0, DIDFT_BUTTON | DIDFT_MAKEINSTANCE(DIK_ESCAPE), 0};
    DIDATAFORMAT format = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), 0, 4, 1, &object};
    ASSERT_EQ(device->SetDataFormat(&format), DI_OK);
    // Exclusive or foreground access needs our own window.
    EXPECT_EQ(device->SetCooperativeLevel(nullptr, DISCL_EXCLUSIVE | DISCL_FOREGROUND), DIERR_INVALIDPARAM);
    EXPECT_EQ(device->SetCooperativeLevel(screen.window, DISCL_NONEXCLUSIVE), DIERR_INVALIDPARAM);
    ASSERT_EQ(device->SetCooperativeLevel(screen.window, DISCL_EXCLUSIVE | DISCL_FOREGROUND), DI_OK);
    ASSERT_EQ(device->Acquire(), DI_OK);
    BYTE data[4];
    ASSERT_EQ(device->GetDeviceState(4, data), DI_OK);

    faults::SetForeground(false);
    EXPECT_EQ(device->GetDeviceState(4, data), DIERR_INPUTLOST);
    EXPECT_EQ(device->GetDeviceState(4, data), DIERR_NOTACQUIRED);
    EXPECT_NE(device->Acquire(), DI_OK);
    EXPECT_EQ(device->GetDeviceState(4, data), DIERR_NOTACQUIRED);

    faults::SetForeground(true);
    EXPECT_EQ(device->GetDeviceState(4, data), DIERR_NOTACQUIRED);
    ASSERT_EQ(device->Acquire(), DI_OK);
    EXPECT_EQ(device->GetDeviceState(4, data), DI_OK);

    device->Release();
    directInput_->Release();
}

// ---------------------------------------------------------------- host keys

class HostKeysTest : public ::testing::Test {
protected:
    void SetUp() override { faults::Reset(); }
    void TearDown() override {
        unsetenv("RINGSCROLLER_ESCAPE_AFTER");
        faults::Reset();
    }
    static bool EscapeRead() {
        BYTE keys[256];
        standin::host::ReadKeys(keys);
        return keys[DIK_ESCAPE] == 0x80;
    }
};

TEST_F(HostKeysTest, EscapeAfterCountsPollsFromTheReset) {
    setenv("RINGSCROLLER_ESCAPE_AFTER", "3", 1);
    faults::Reset();
    EXPECT_FALSE(EscapeRead());
    EXPECT_FALSE(EscapeRead());
    EXPECT_TRUE(EscapeRead());
    EXPECT_TRUE(EscapeRead());

    // A reset starts the count again.
    faults::Reset();
    EXPECT_FALSE(EscapeRead());
}

TEST_F(HostKeysTest, EscapeAfterThatIsNotACountIsIgnored) {
    for (const char* value : {"", "abc", "3x", "0", "-4"}) {
        setenv("RINGSCROLLER_ESCAPE_AFTER", value, 1);
        faults::Reset();
        for (int i = 0; i < 6; ++i) EXPECT_FALSE(EscapeRead()) << "\"" << value << "\" poll " << i;
    }
}

TEST_F(HostKeysTest, RequestedEscapeStaysHeld) {
    EXPECT_FALSE(EscapeRead());
    standin::host::RequestEscape();
    EXPECT_TRUE(EscapeRead());
    EXPECT_TRUE(EscapeRead());
}

TEST_F(HostKeysTest, TerminationSignalReadsAsEscape) {
    EXPECT_FALSE(EscapeRead());  // the first poll installs the handlers
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(EscapeRead());
}

TEST_F(HostKeysTest, ScriptedKeysOutsideTheKeyboardAreIgnored) {
    faults::HoldKey(-1, true);
    faults::HoldKey(256, true);
    faults::HoldKey(0x2A, true);
    BYTE keys[256];
    standin::host::ReadKeys(keys);
    for (int code = 0; code < 256; ++code) EXPECT_EQ(keys[code], code == 0x2A ? 0x80 : 0) << code;
}

}  // namespace
