#include <string>

#include "fixture.h"

namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRuntimeRecords();
        faults::TrapExit(true);
    }
    void TearDown() override { faults::Reset(); }

    // Runs start-up and reports the exit it ended in, or -1 when it went on.
    int StartAndCatchExit() {
        try {
            StartRuntime(GetModuleHandleA(nullptr));
        } catch (const faults::ProcessExit& exit) {
            return static_cast<int>(exit.code);
        }
        return -1;
    }
};

TEST_F(StartupTest, NoHeapEndsTheProgramWithAMessageAndANonZeroCode) {
    faults::Fail("HeapCreate");
    testing::internal::CaptureStderr();
    int code = StartAndCatchExit();
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_GT(code, 0);
    EXPECT_NE(said.find("heap"), std::string::npos) << said;
}

TEST_F(StartupTest, NoWorkAreaEndsTheProgramWithAMessageAndANonZeroCode) {
    faults::Fail("HeapAlloc");
    testing::internal::CaptureStderr();
    int code = StartAndCatchExit();
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_GT(code, 0);
    EXPECT_NE(said.find("work area"), std::string::npos) << said;
}

TEST_F(StartupTest, StartUpClearsTheStateAndMakesTheWorkArea) {
    scroller.textPos = 42;
    runtime.workPtr = reinterpret_cast<BYTE*>(0x1234);
    ASSERT_EQ(StartAndCatchExit(), -1);
    EXPECT_EQ(scroller.textPos, 0);
    EXPECT_EQ(runtime.instance, GetModuleHandleA(nullptr));
    ASSERT_NE(runtime.heap, nullptr);
    EXPECT_EQ(runtime.workPtr, runtime.workStart);
    EXPECT_EQ(runtime.workEnd - runtime.workStart, 64000);
    EXPECT_EQ(HeapSize(runtime.heap, 0, runtime.workStart), 64000u);
    for (int i = 0; i < 64000; i += 997) EXPECT_EQ(runtime.workStart[i], 0);
}

TEST_F(StartupTest, EndProgramDestroysTheHeapLastAndExitsWithItsCode) {
    ASSERT_EQ(StartAndCatchExit(), -1);
    HANDLE heap = runtime.heap;
    faults::StartRecording();
    try {
        EndProgram(0);
        FAIL() << "EndProgram returned";
    } catch (const faults::ProcessExit& exit) {
        EXPECT_EQ(exit.code, 0u);
    }
    const std::vector<std::string>& calls = faults::Recorded();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2], "HeapDestroy");
    EXPECT_EQ(calls.back(), "ExitProcess");
    EXPECT_EQ(HeapAlloc(heap, 0, 4), nullptr) << "the heap is gone";
}

}  // namespace
