// The keyboard: DirectInput's object shared by use count, the device's
// data format, polling, focus loss and recovery, and the host's scripted
// and environment-driven keys.
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <numeric>
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
    void TearDown() override {
        if (directInput_) directInput_->Release();
        unsetenv("RINGSCROLLER_ESCAPE_AFTER");
        RuntimeTest::TearDown();
    }
    // The window foreground access binds to, and the keyboard opened on it.
    void OpenOnWindow() {
        ASSERT_NE(CreateMainWindow(), 0);
        ASSERT_EQ(OpenKeyboard(), 1);
    }
    // A stand-in keyboard device, without the runtime.
    IDirectInputDevice7A* MakeDevice() {
        LPVOID object = nullptr, device = nullptr;
        EXPECT_EQ(DirectInputCreateEx(runtime.instance, 0x0700, IID_IDirectInput7A, &object, nullptr), DI_OK);
        directInput_ = static_cast<IDirectInput7A*>(object);
        EXPECT_EQ(directInput_->CreateDeviceEx(GUID_SysKeyboard, IID_IDirectInputDevice7A, &device, nullptr), DI_OK);
        return static_cast<IDirectInputDevice7A*>(device);
    }
    IDirectInput7A* directInput_ = nullptr;
};

bool HostEscapeRead() {
    BYTE keys[256];
    standin::host::ReadKeys(keys);
    return keys[DIK_ESCAPE] == 0x80;
}

TEST_F(KeyboardTest, KeyDownReadsTheLastPoll) {
    OpenOnWindow();
    faults::HoldKey(kEscapeKey, true);
    EXPECT_EQ(KeyDown(kEscapeKey), 0);  // nothing is read before the first poll
    EXPECT_EQ(KeyDown(-1), 0);
    std::vector<int> all(256);
    std::iota(all.begin(), all.end(), 0);
    struct Case {
        std::vector<int> held;
        int32_t code, expected;
    };
    // -1 is "any key" and looks at scan codes below 255 only; codes outside
    // the keyboard read as released even with every key held.
    for (const Case& c : {Case{{1}, 1, 128}, Case{{1}, -1, 1}, Case{{1}, 2, 0}, Case{{255}, 255, 128},
                          Case{{255}, -1, 0}, Case{{254}, -1, 1}, Case{{254}, 255, 0}, Case{all, 256, 0},
                          Case{all, -2, 0}, Case{all, 1 << 30, 0}, Case{all, INT32_MIN, 0}}) {
        for (int code : all) faults::HoldKey(code, false);
        for (int code : c.held) faults::HoldKey(code, true);
        ASSERT_EQ(PollKeyboard(), 1);
        EXPECT_EQ(KeyDown(c.code), c.expected) << "code " << c.code << " with " << c.held.size() << " held";
    }
}

TEST_F(KeyboardTest, FocusLossKeepsTheLastKeysUntilTheWindowIsInFrontAgain) {
    OpenOnWindow();
    faults::HoldKey(kEscapeKey, true);
    ASSERT_EQ(PollKeyboard(), 1);
    faults::SetForeground(false);
    faults::HoldKey(kEscapeKey, false);
    faults::HoldKey(0x1C, true);
    // Refused while another window is in front, however often it is asked.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(PollKeyboard(), 0) << "poll " << i;
        EXPECT_EQ(KeyDown(kEscapeKey), 128);
        EXPECT_EQ(KeyDown(0x1C), 0);
    }
    faults::SetForeground(true);
    // The poll that finds the device unacquired acquires it again; reading
    // resumes no later than the one after.
    PollKeyboard();
    EXPECT_EQ(PollKeyboard(), 1);
    EXPECT_EQ(KeyDown(kEscapeKey), 0);
    EXPECT_EQ(KeyDown(0x1C), 128);

    // Ctrl-C in the terminal or the close button must end the demo even
    // while its window is behind another one.
    faults::SetForeground(false);
    EXPECT_EQ(PollKeyboard(), 0);
    standin::host::RequestEscape();
    PollKeyboard();  // may still find the device unacquired; acquires it
    EXPECT_EQ(PollKeyboard(), 1);
    EXPECT_EQ(KeyDown(kEscapeKey), 128);
}

// Re-acquired after a failed read; closed device first, then DirectInput,
// then the library.
TEST_F(KeyboardTest, AFailedReadAcquiresAgainAndCloseGoesInOrder) {
    OpenOnWindow();
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

    faults::StartRecording();
    CloseKeyboard();
    EXPECT_EQ(faults::RecordedMatching({"IDirectInput", "FreeLibrary"}),
              (Calls{"IDirectInputDevice7A::Unacquire", "IDirectInputDevice7A::SetCooperativeLevel",
                     "IDirectInputDevice7A::Release", "IDirectInput7A::Release", "FreeLibrary DINPUT.DLL"}));
    EXPECT_EQ(PollKeyboard(), 0);
}

TEST_F(KeyboardTest, DirectInputIsSharedByUseCount) {
    faults::StartRecording();
    IDirectInput7A* first = AcquireDirectInput();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(AcquireDirectInput(), first);
    EXPECT_EQ(faults::RecordedMatching({"LoadLibraryA", "DirectInputCreateEx"}),
              (Calls{"LoadLibraryA DINPUT.DLL", "DirectInputCreateEx"}));
    ReleaseDirectInput();
    EXPECT_EQ(directInputState.directInput, first);
    EXPECT_TRUE(faults::RecordedMatching({"IDirectInput7A::Release", "FreeLibrary"}).empty());
    ReleaseDirectInput();
    EXPECT_EQ(directInputState.directInput, nullptr);
    EXPECT_EQ(faults::RecordedMatching({"IDirectInput7A::Release", "FreeLibrary"}),
              (Calls{"IDirectInput7A::Release", "FreeLibrary DINPUT.DLL"}));
}

TEST_F(KeyboardTest, NothingOpenMeansNothingDoneAndTheKeysKept) {
    keyboard.keys[7] = 0x80;
    faults::StartRecording();
    EXPECT_EQ(PollKeyboard(), 0);
    EXPECT_EQ(KeyDown(7), 128);
    CloseKeyboard();
    EXPECT_TRUE(faults::Recorded().empty());
    EXPECT_EQ(directInputState.directInputUsers, 0);
}

TEST_F(KeyboardTest, WithoutTheObjectBlockNoKeyIsDescribedAndNothingCrashes) {
    ASSERT_NE(CreateMainWindow(), 0);
    faults::Fail("HeapAlloc");
    OpenKeyboard();
    faults::HoldKey(kEscapeKey, true);
    PollKeyboard();
    EXPECT_EQ(KeyDown(kEscapeKey), 0);
    CloseKeyboard();
    EXPECT_EQ(directInputState.directInputUsers, 0);
}

// Each way the keyboard can fail to open: OpenKeyboard says 0, a loaded
// library is unloaded again, polls do nothing and close balances the count.
TEST_F(KeyboardTest, EachOpenFailureIsReportedAndCloseBalances) {
    struct Case {
        const char* call;
        bool libraryLoaded, directInputMade, deviceMade;
    };
    for (const Case& c : {Case{"LoadLibraryA DINPUT.DLL", false, false, false},
                          Case{"GetProcAddress DirectInputCreateEx", true, false, false},
                          Case{"DirectInputCreateEx", true, false, false},
                          Case{"IDirectInput7A::CreateDeviceEx", true, true, false},
                          Case{"IDirectInputDevice7A::SetDataFormat", true, true, true}}) {
        SCOPED_TRACE(c.call);
        SetUp();
        faults::Fail(c.call);
        faults::StartRecording();
        EXPECT_EQ(OpenKeyboard(), 0);
        EXPECT_EQ(directInputState.directInput != nullptr, c.directInputMade);
        EXPECT_EQ(keyboard.device != nullptr, c.deviceMade);
        EXPECT_EQ(faults::RecordedMatching({"FreeLibrary"}).size(), c.libraryLoaded && !c.directInputMade ? 1u : 0u);
        faults::HoldKey(kEscapeKey, true);
        EXPECT_EQ(PollKeyboard(), 0);
        EXPECT_EQ(KeyDown(kEscapeKey), 0);

        CloseKeyboard();
        EXPECT_EQ(directInputState.directInputUsers, 0);
        EXPECT_EQ(directInputState.directInput, nullptr);
        EXPECT_EQ(faults::RecordedMatching({"FreeLibrary"}).size(), c.libraryLoaded ? 1u : 0u);
        EXPECT_EQ(faults::RecordedMatching({"IDirectInputDevice7A::Release", "IDirectInput7A::Release"}).size(),
                  (c.deviceMade ? 1u : 0u) + (c.directInputMade ? 1u : 0u));
    }
}

// ------------------------------------------------------------------ stand-in

TEST_F(KeyboardTest, CreationChecksVersionInterfaceAndInstance) {
    LPVOID object = reinterpret_cast<LPVOID>(1);
    EXPECT_NE(DirectInputCreateEx(runtime.instance, 0x0500, IID_IDirectInput7A, &object, nullptr), DI_OK);
    EXPECT_EQ(object, nullptr);
    EXPECT_NE(DirectInputCreateEx(runtime.instance, 0x0800, IID_IDirectInput7A, &object, nullptr), DI_OK);
    EXPECT_EQ(DirectInputCreateEx(runtime.instance, 0x0700, IID_IDirectInputDevice7A, &object, nullptr), DIERR_NOINTERFACE);
    EXPECT_EQ(DirectInputCreateEx(nullptr, 0x0700, IID_IDirectInput7A, &object, nullptr), DIERR_INVALIDPARAM);
    EXPECT_EQ(object, nullptr);
    MakeDevice()->Release();
    LPVOID device = nullptr;
    EXPECT_EQ(directInput_->CreateDeviceEx(GUID_Key, IID_IDirectInputDevice7A, &device, nullptr), DIERR_DEVICENOTREG);
    EXPECT_EQ(directInput_->CreateDeviceEx(GUID_SysKeyboard, IID_IDirectInput7A, &device, nullptr), DIERR_NOINTERFACE);
    EXPECT_EQ(device, nullptr);
}

TEST_F(KeyboardTest, DataFormatOffsetsBadFormatsAndTheForegroundRule) {
    ASSERT_NE(CreateMainWindow(), 0);
    IDirectInputDevice7A* device = MakeDevice();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->Acquire(), DIERR_INVALIDPARAM);  // no format yet
    DIOBJECTDATAFORMAT objects[2] = {{&GUID_Key, 6, DIDFT_BUTTON | DIDFT_MAKEINSTANCE(DIK_ESCAPE), 0},
                                     {&GUID_Key, 1, DIDFT_BUTTON | DIDFT_MAKEINSTANCE(0x39), 0}};
    DIOBJECTDATAFORMAT clash[2] = {objects[0], objects[1]};
    clash[1].dwOfs = 6;
    const DIDATAFORMAT format = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 8, 2, objects};
    DIDATAFORMAT bad[6] = {format, format, format, format, format, format};
    bad[0].dwSize += 4;
    bad[1].dwObjSize = 4;
    bad[2].dwDataSize = 6;  // not whole DWORDs
    bad[3].dwDataSize = 4;  // offset 6 lies outside
    bad[4].rgodf = nullptr;
    bad[5].rgodf = clash;   // two keys at one offset
    for (DIDATAFORMAT& b : bad) EXPECT_EQ(device->SetDataFormat(&b), DIERR_INVALIDPARAM) << &b - bad;
    EXPECT_EQ(device->SetDataFormat(nullptr), DIERR_INVALIDPARAM);

    ASSERT_EQ(device->SetDataFormat(&format), DI_OK);
    ASSERT_EQ(device->Acquire(), DI_OK);
    for (int code : {DIK_ESCAPE, 0x39, 0x1C}) faults::HoldKey(code, true);  // 0x1C: not in the format
    BYTE data[8];
    std::memset(data, 0xAA, sizeof data);
    EXPECT_EQ(device->GetDeviceState(4, data), DIERR_INVALIDPARAM);
    ASSERT_EQ(device->GetDeviceState(8, data), DI_OK);
    const BYTE expected[8] = {0, 0x80, 0, 0, 0, 0, 0x80, 0};
    EXPECT_EQ(std::memcmp(data, expected, sizeof data), 0);
    EXPECT_EQ(device->SetDataFormat(&format), DIERR_ACQUIRED);

    // Foreground access needs our own window; losing the foreground reads as
    // DIERR_INPUTLOST once, then DIERR_NOTACQUIRED until acquired again.
    ASSERT_EQ(device->Unacquire(), DI_OK);
    EXPECT_EQ(device->SetCooperativeLevel(nullptr, DISCL_EXCLUSIVE | DISCL_FOREGROUND), DIERR_INVALIDPARAM);
    EXPECT_EQ(device->SetCooperativeLevel(screen.window, DISCL_NONEXCLUSIVE), DIERR_INVALIDPARAM);
    ASSERT_EQ(device->SetCooperativeLevel(screen.window, DISCL_EXCLUSIVE | DISCL_FOREGROUND), DI_OK);
    ASSERT_EQ(device->Acquire(), DI_OK);
    ASSERT_EQ(device->GetDeviceState(8, data), DI_OK);
    faults::SetForeground(false);
    EXPECT_EQ(device->GetDeviceState(8, data), DIERR_INPUTLOST);
    EXPECT_EQ(device->GetDeviceState(8, data), DIERR_NOTACQUIRED);
    EXPECT_NE(device->Acquire(), DI_OK);
    faults::SetForeground(true);
    EXPECT_EQ(device->GetDeviceState(8, data), DIERR_NOTACQUIRED);
    ASSERT_EQ(device->Acquire(), DI_OK);
    EXPECT_EQ(device->GetDeviceState(8, data), DI_OK);
    device->Release();
}

// ---------------------------------------------------------------- host keys

TEST_F(KeyboardTest, HostEscapeAfterCountsPollsFromTheResetAndIgnoresNonCounts) {
    setenv("RINGSCROLLER_ESCAPE_AFTER", "3", 1);
    for (int round = 0; round < 2; ++round) {  // a reset starts the count again
        faults::Reset();
        for (bool held : {false, false, true, true}) EXPECT_EQ(HostEscapeRead(), held) << "round " << round;
    }
    for (const char* value : {"", "abc", "3x", "0", "-4"}) {
        setenv("RINGSCROLLER_ESCAPE_AFTER", value, 1);
        faults::Reset();
        for (int i = 0; i < 6; ++i) EXPECT_FALSE(HostEscapeRead()) << "\"" << value << "\" poll " << i;
    }
}

TEST_F(KeyboardTest, HostRequestedEscapeAndTerminationSignalStayHeld) {
    EXPECT_FALSE(HostEscapeRead());
    standin::host::RequestEscape();
    EXPECT_TRUE(HostEscapeRead());
    EXPECT_TRUE(HostEscapeRead());
    faults::Reset();
    EXPECT_FALSE(HostEscapeRead());
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(HostEscapeRead());
}

TEST_F(KeyboardTest, HostScriptedKeysLandOnTheirScanCodeAndOutsideOnesAreIgnored) {
    for (int code : {-1, 256, 0x00, 0x2A, 0x9C, 0xFF}) faults::HoldKey(code, true);
    BYTE keys[256];
    standin::host::ReadKeys(keys);
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(keys[code], code == 0x00 || code == 0x2A || code == 0x9C || code == 0xFF ? 0x80 : 0) << code;
}

}  // namespace
