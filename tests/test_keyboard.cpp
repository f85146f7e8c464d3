// The keyboard: DirectInput's object shared by use count, the device in
// exclusive foreground mode, polling, focus loss and recovery, each open
// failure, and the host's scripted and environment-driven keys.
#include <csignal>
#include <numeric>

#include "fixture.h"

namespace {

using KeyboardTest = RuntimeTest;

void OpenOnWindow() {
    ASSERT_NE(CreateMainWindow(), 0);
    ASSERT_EQ(OpenKeyboard(), 1);
}

bool HostEscapeRead() {
    BYTE keys[256];
    standin::host::ReadKeys(keys);
    return keys[DIK_ESCAPE] == 0x80;
}

TEST_F(KeyboardTest, KeyDownReadsTheLastPollByScanCode) {
    OpenOnWindow();
    faults::HoldKey(kEscapeKey, true);
    EXPECT_EQ(KeyDown(kEscapeKey), 0) << "nothing is read before the first poll";
    std::vector<int> all(256);
    std::iota(all.begin(), all.end(), 0);
    struct Case { std::vector<int> held; int32_t code, expected; };
    // -1 is "any key" and looks at scan codes below 255 only; codes outside the keyboard read as
    // released even with every key held.
    for (const Case& c : {Case{{1}, 1, 128}, Case{{1}, 2, 0}, Case{{2}, 1, 0}, Case{{255}, 255, 128}, Case{{255}, -1, 0},
                          Case{{0}, -1, 1}, Case{{254}, -1, 1}, Case{all, 256, 0}, Case{all, -2, 0},
                          Case{all, INT32_MIN, 0}}) {
        for (int code : all) faults::HoldKey(code, false);
        for (int code : c.held) faults::HoldKey(code, true);
        ASSERT_EQ(PollKeyboard(), 1);
        EXPECT_EQ(KeyDown(c.code), c.expected) << "code " << c.code << " with " << c.held.size() << " held";
    }
}

TEST_F(KeyboardTest, FocusLossKeepsTheLastKeysUntilTheWindowIsInFrontAgain) {
    OpenOnWindow();
    faults::StartRecording();
    faults::HoldKey(kEscapeKey, true);
    ASSERT_EQ(PollKeyboard(), 1);
    EXPECT_EQ(faults::RecordedMatching({"IDirectInputDevice7A::SetCooperativeLevel"}),
              (Calls{"IDirectInputDevice7A::SetCooperativeLevel 5"})) << "exclusive and foreground, at the first poll";
    faults::SetForeground(false);
    faults::HoldKey(kEscapeKey, false);
    faults::HoldKey(0x1C, true);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(PollKeyboard() == 0 && KeyDown(kEscapeKey) == 128 && KeyDown(0x1C) == 0) << "poll " << i;
    faults::SetForeground(true);
    PollKeyboard();  // may still find the device unacquired: acquires it
    EXPECT_EQ(PollKeyboard(), 1);
    EXPECT_TRUE(KeyDown(kEscapeKey) == 0 && KeyDown(0x1C) == 128);
    // Ctrl-C in the terminal or the close button end the demo even while its window is behind another.
    faults::SetForeground(false);
    EXPECT_EQ(PollKeyboard(), 0);
    standin::host::RequestEscape();
    PollKeyboard();
    EXPECT_TRUE(PollKeyboard() == 1 && KeyDown(kEscapeKey) == 128);
}

TEST_F(KeyboardTest, AFailedReadAsksForAccessAgainAndCloseGoesInOrder) {
    OpenOnWindow();
    faults::HoldKey(3, true);
    ASSERT_EQ(PollKeyboard(), 1);
    faults::HoldKey(3, false);
    faults::Fail("IDirectInputDevice7A::GetDeviceState", 1);
    EXPECT_EQ(CallsOf([] { EXPECT_TRUE(PollKeyboard() == 0 && KeyDown(3) == 128) << "the keys are kept"; },
                      {"IDirectInputDevice7A::"}),
              (Calls{"IDirectInputDevice7A::GetDeviceState", "IDirectInputDevice7A::Unacquire",
                     "IDirectInputDevice7A::SetCooperativeLevel 2", "IDirectInputDevice7A::SetCooperativeLevel 5",
                     "IDirectInputDevice7A::Acquire"}));
    EXPECT_TRUE(PollKeyboard() == 1 && KeyDown(3) == 0);
    EXPECT_EQ(CallsOf(CloseKeyboard, {"IDirectInput", "FreeLibrary"}),
              (Calls{"IDirectInputDevice7A::Unacquire", "IDirectInputDevice7A::SetCooperativeLevel 2",
                     "IDirectInputDevice7A::Release", "IDirectInput7A::Release", "FreeLibrary DINPUT.DLL"}));
    EXPECT_EQ(PollKeyboard(), 0);
}

TEST_F(KeyboardTest, DirectInputIsSharedByUseCountAndNothingOpenMeansNothingDone) {
    keyboard.keys[7] = 0x80;
    faults::StartRecording();
    EXPECT_TRUE(PollKeyboard() == 0 && KeyDown(7) == 128);
    CloseKeyboard();
    EXPECT_TRUE(faults::Recorded().empty());
    IDirectInput7A* first = AcquireDirectInput();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(AcquireDirectInput(), first);
    for (IDirectInput7A* left : {first, static_cast<IDirectInput7A*>(nullptr)}) {
        ReleaseDirectInput();
        EXPECT_EQ(directInputState.directInput, left);
    }
    EXPECT_EQ(faults::RecordedMatching({"LoadLibraryA", "DirectInputCreateEx", "IDirectInput7A::Release", "FreeLibrary"}),
              (Calls{"LoadLibraryA DINPUT.DLL", "DirectInputCreateEx", "IDirectInput7A::Release", "FreeLibrary DINPUT.DLL"}));
}

// Each way the keyboard can fail to open: OpenKeyboard says 0, a loaded library is unloaded again,
// polls do nothing and close balances the count. Without the object block it could never see Escape.
TEST_F(KeyboardTest, EachOpenFailureIsReportedAndCloseBalances) {
    struct Case { const char* call; bool libraryLoaded, directInputMade, deviceMade; };
    for (const Case& c : {Case{"LoadLibraryA DINPUT.DLL", false, false, false},
                          Case{"GetProcAddress DirectInputCreateEx", true, false, false},
                          Case{"DirectInputCreateEx", true, false, false}, Case{"HeapAlloc", true, true, false},
                          Case{"IDirectInput7A::CreateDeviceEx", true, true, false},
                          Case{"IDirectInputDevice7A::SetDataFormat", true, true, true}}) {
        SCOPED_TRACE(c.call);
        SetUp();
        ASSERT_NE(CreateMainWindow(), 0);
        faults::Fail(c.call);
        faults::StartRecording();
        EXPECT_EQ(OpenKeyboard(), 0);
        EXPECT_EQ(directInputState.directInput != nullptr, c.directInputMade);
        EXPECT_EQ(keyboard.device != nullptr, c.deviceMade);
        faults::HoldKey(kEscapeKey, true);
        EXPECT_TRUE(PollKeyboard() == 0 && KeyDown(kEscapeKey) == 0);
        CloseKeyboard();
        EXPECT_TRUE(directInputState.directInputUsers == 0 && !directInputState.directInput);
        EXPECT_EQ(faults::RecordedMatching({"FreeLibrary"}).size(), c.libraryLoaded ? 1u : 0u);
        EXPECT_EQ(faults::RecordedMatching({"IDirectInputDevice7A::Release", "IDirectInput7A::Release"}).size(),
                  (c.deviceMade ? 1u : 0u) + (c.directInputMade ? 1u : 0u));
    }
}

// One pass of the program's message loop, as FlipBuffers makes each frame.
void PumpFrame() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

// RINGSCROLLER_ESCAPE_AFTER holds Escape from the n-th message-loop pass on, n in plain digits only.
TEST_F(KeyboardTest, HostEscapeAfterCountsFramesAndTerminationSignalsHoldEscape) {
    ScopedEnv escapeAfter("RINGSCROLLER_ESCAPE_AFTER", "3");
    for (int round = 0; round < 2; ++round) {  // a reset starts the count again
        faults::Reset();
        for (bool held : {false, true, true}) {
            PumpFrame();
            EXPECT_EQ(HostEscapeRead(), held) << "round " << round;
            EXPECT_EQ(HostEscapeRead(), held) << "reading counts no frame";
            PumpFrame();
        }
    }
    for (const char* value : {"", "3x", "0", "-4", " 3", "+3", "99999999999999999999999"}) {
        setenv("RINGSCROLLER_ESCAPE_AFTER", value, 1);
        faults::Reset();
        for (int i = 0; i < 4; ++i) {
            PumpFrame();
            EXPECT_FALSE(HostEscapeRead()) << "\"" << value << "\" frame " << i;
        }
    }
    unsetenv("RINGSCROLLER_ESCAPE_AFTER");
    faults::Reset();
    EXPECT_FALSE(HostEscapeRead());
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(HostEscapeRead() && HostEscapeRead()) << "held, and stays held";
    for (int code : {-1, 256, 0x2A, 0xFF}) faults::HoldKey(code, true);
    BYTE keys[256];
    standin::host::ReadKeys(keys);
    for (int code = 2; code < 256; ++code) EXPECT_EQ(keys[code], code == 0x2A || code == 0xFF ? 0x80 : 0) << code;
}

}  // namespace
