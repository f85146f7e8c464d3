// The whole demo in-process: start-up, the frame loop and shutdown through
// ProgramMain, with the exit trapped, Escape scripted and frames captured.
// Also the check of a real run's capture folder (RINGSCROLLER_E2E_DIR).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "demo_frames.h"
#include "fixture.h"

namespace fs = std::filesystem;
using demo_frames::Frame;

namespace {

using Calls = std::vector<std::string>;

// A scratch folder that goes away with the test.
struct TempDir {
    fs::path path;
    TempDir() {
        char pattern[] = "/tmp/ringscroller-demo-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

size_t CountPngs(const fs::path& dir) {
    size_t n = 0;
    for (const auto& entry : fs::directory_iterator(dir)) n += entry.path().extension() == ".png";
    return n;
}

class DemoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRuntimeRecords();
        faults::TrapExit(true);
    }
    void TearDown() override {
        unsetenv("RINGSCROLLER_ESCAPE_AFTER");
        unsetenv("RINGSCROLLER_CAPTURE");
        faults::Reset();
    }
    // Escape from the n-th poll on; frames to `dir` when given. Set after the
    // reset: the keyboard and the display read them at first use.
    static void Script(int escapeAfter, const fs::path& dir = {}) {
        setenv("RINGSCROLLER_ESCAPE_AFTER", std::to_string(escapeAfter).c_str(), 1);
        if (!dir.empty()) setenv("RINGSCROLLER_CAPTURE", dir.c_str(), 1);
    }
    // The exit code ProgramMain ended with.
    static long RunProgram() {
        try {
            ProgramMain(GetModuleHandleA(nullptr));
        } catch (const faults::ProcessExit& exit) {
            return static_cast<long>(exit.code);
        }
        return -1;  // unreachable: ProgramMain never returns
    }
    static long Count(const std::string& call) {
        const Calls& calls = faults::Recorded();
        return std::count(calls.begin(), calls.end(), call);
    }
};

TEST_F(DemoTest, EscapeHeldFromTheStartEndsAfterOnePassWithCodeZero) {
    faults::HoldKey(kEscapeKey, true);
    faults::StartRecording();
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(Count("IDirectInputDevice7A::GetDeviceState"), 1);
    // The one pass presents the capture's black frame; its own is never shown.
    EXPECT_EQ(Count("IDirectDrawSurface7::Flip"), 1);
    EXPECT_EQ(Count("IDirect3DDevice7::BeginScene"), 1);
    EXPECT_EQ(scroller.column, 32);
}

TEST_F(DemoTest, NPollsPresentNFramesTheFirstBlackTheRestOnTheRing) {
    TempDir dir;
    Script(6, dir.path);
    faults::StartRecording();
    ASSERT_EQ(RunProgram(), 0);
    EXPECT_EQ(Count("IDirectInputDevice7A::GetDeviceState"), 6);
    EXPECT_EQ(Count("IDirect3DDevice7::BeginScene"), 6);
    EXPECT_EQ(scroller.column, 6 * 32);
    ASSERT_EQ(CountPngs(dir.path), 6u);

    Frame first;
    ASSERT_TRUE(demo_frames::ReadPng(dir.path / demo_frames::FrameName(1), first));
    EXPECT_EQ(first.width, 640);
    EXPECT_EQ(first.height, 480);
    EXPECT_EQ(demo_frames::LitCount(first), 0);
    // The text starts with two spaces: 2 x 26 columns pass before a lit one
    // reaches the ring, so the first few frames are dark as well.
    for (int n = 2; n <= 6; ++n) {
        Frame f;
        ASSERT_TRUE(demo_frames::ReadPng(dir.path / demo_frames::FrameName(n), f)) << n;
        EXPECT_EQ(demo_frames::LitOutsideRing(f), 0) << "frame " << n;
    }
}

TEST_F(DemoTest, StartUpAndCloseKeepTheirOrder) {
    faults::SetAudioDevice(true);
    faults::HoldKey(kEscapeKey, true);
    faults::StartRecording();
    ASSERT_EQ(RunProgram(), 0);
    EXPECT_EQ(faults::RecordedMatching({"LoadLibraryA", "IDirectDraw7::QueryInterface IDirect3D7"}),
              (Calls{"LoadLibraryA DDRAW.DLL", "IDirectDraw7::QueryInterface IDirect3D7", "LoadLibraryA DSOUND.DLL",
                     "LoadLibraryA DINPUT.DLL"}));

    const Calls& calls = faults::Recorded();
    auto lastPoll = std::find(calls.rbegin(), calls.rend(), "IDirectInputDevice7A::GetDeviceState");
    ASSERT_NE(lastPoll, calls.rend());
    Calls closing;
    for (auto it = lastPoll.base(); it != calls.end(); ++it) {
        for (const char* p : {"IDirectInput", "IDirectSound", "FreeLibrary", "HeapDestroy", "ExitProcess"}) {
            if (it->rfind(p, 0) == 0) closing.push_back(*it);
        }
    }
    EXPECT_EQ(closing, (Calls{"IDirectInputDevice7A::Unacquire", "IDirectInputDevice7A::SetCooperativeLevel",
                              "IDirectInputDevice7A::Release", "IDirectInput7A::Release", "FreeLibrary DINPUT.DLL",
                              "IDirectSoundBuffer::Release", "IDirectSound::Release", "FreeLibrary DSOUND.DLL",
                              "FreeLibrary DDRAW.DLL", "HeapDestroy", "ExitProcess"}));
}

// With any one library missing the demo still runs its frames and ends on
// Escape with code 0.
struct Missing {
    const char* name;
    const char* fail;  // the call made to fail; null: no audio device
};

class DemoWithoutTest : public DemoTest, public ::testing::WithParamInterface<Missing> {};

TEST_P(DemoWithoutTest, LoopRunsAndEndsOnEscape) {
    faults::SetAudioDevice(GetParam().fail != nullptr);
    if (GetParam().fail) faults::Fail(GetParam().fail);
    Script(4);
    faults::StartRecording();
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(Count("IDirectInputDevice7A::GetDeviceState"), 4);
    EXPECT_EQ(scroller.column, 4 * 32);
    EXPECT_EQ(faults::Recorded().back(), "ExitProcess");
}

INSTANTIATE_TEST_SUITE_P(EachLibrary, DemoWithoutTest,
                         ::testing::Values(Missing{"SoundDevice", nullptr}, Missing{"SoundLibrary", "LoadLibraryA DSOUND.DLL"},
                                           Missing{"DirectDraw", "LoadLibraryA DDRAW.DLL"},
                                           Missing{"Direct3D", "IDirectDraw7::QueryInterface IDirect3D7"},
                                           Missing{"Device3D", "IDirect3D7::CreateDevice"}),
                         [](const ::testing::TestParamInfo<Missing>& info) { return std::string(info.param.name); });

TEST_F(DemoTest, WithoutTheParticleBitmapNothingIsDrawnButTheLoopEnds) {
    TempDir work, captures;
    fs::path here = fs::current_path();
    fs::current_path(work.path);  // no glimrotan.bmp here
    Script(60, captures.path);
    long code = RunProgram();
    fs::current_path(here);
    EXPECT_EQ(code, 0);
    ASSERT_EQ(CountPngs(captures.path), 60u);
    Frame last;
    ASSERT_TRUE(demo_frames::ReadPng(captures.path / demo_frames::FrameName(60), last));
    EXPECT_EQ(demo_frames::LitCount(last), 0);
}

// Without a keyboard nothing can end the loop: the program must keep
// presenting frames rather than stop or crash. Run in a child and stopped.
TEST_F(DemoTest, WithoutAKeyboardTheLoopKeepsRunning) {
    TempDir captures;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        faults::Fail("LoadLibraryA DINPUT.DLL");
        setenv("RINGSCROLLER_CAPTURE", captures.path.c_str(), 1);
        setenv("RINGSCROLLER_CAPTURE_EVERY", "200", 1);
        try {
            ProgramMain(GetModuleHandleA(nullptr));
        } catch (...) {
        }
        _exit(99);  // the loop ended: wrong
    }
    // Frame 1 and frame 201 captured means two hundred passes went by.
    bool running = true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (CountPngs(captures.path) < 2 && std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            running = false;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(running) << "the demo ended without a keyboard";
    EXPECT_GE(CountPngs(captures.path), 2u);
    if (running) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
}

// ------------------------------------------------- a real run's capture folder

// Run by tests/e2e_headless.sh after the program itself: RINGSCROLLER_E2E_DIR
// holds every presented frame, RINGSCROLLER_E2E_FRAMES says how many there
// must be.
TEST(DemoCaptures, RealRunPresentedTheRingScrolling) {
    const char* dir = std::getenv("RINGSCROLLER_E2E_DIR");
    const char* frames = std::getenv("RINGSCROLLER_E2E_FRAMES");
    if (!dir || !frames) GTEST_SKIP() << "RINGSCROLLER_E2E_DIR and RINGSCROLLER_E2E_FRAMES not set";
    const unsigned long expected = std::strtoul(frames, nullptr, 10);
    ASSERT_GT(expected, 2u);
    EXPECT_EQ(CountPngs(dir), expected);
    EXPECT_FALSE(fs::exists(fs::path(dir) / demo_frames::FrameName(expected + 1)));

    Frame previous, current;
    ASSERT_TRUE(demo_frames::ReadPng(fs::path(dir) / demo_frames::FrameName(1), previous));
    EXPECT_EQ(demo_frames::LitCount(previous), 0) << "the first frame is black";
    long litFrames = 0, checkedPairs = 0;
    for (unsigned long n = 2; n <= expected; ++n) {
        ASSERT_TRUE(demo_frames::ReadPng(fs::path(dir) / demo_frames::FrameName(n), current)) << n;
        EXPECT_EQ(demo_frames::LitOutsideRing(current), 0) << "frame " << n;
        long lit = demo_frames::LitCount(current);
        litFrames += lit > 0;
        // Pairs with enough text on the ring to tell one spoke from none.
        if (lit > 2000 && demo_frames::LitCount(previous) > 2000) {
            double weight = 0;
            double turned = demo_frames::TurnedDifference(previous, current, 1, &weight);
            double still = demo_frames::TurnedDifference(previous, current, 0);
            double twice = demo_frames::TurnedDifference(previous, current, 2);
            if (std::getenv("RINGSCROLLER_E2E_VERBOSE"))
                std::printf("frame %lu: turned %.3f still %.3f twice %.3f weight %.0f\n", n, turned, still, twice, weight);
            // Only with enough of the text outside the gap where it enters:
            // a sliver's rounded edges weigh too much.
            if (weight > 500000) {
                // Measured: about 0.012 turned by one spoke, 0.08 and more
                // not turned or turned by two.
                EXPECT_LT(turned, 0.04) << "frame " << n;
                EXPECT_LT(turned, 0.4 * still) << "frame " << n;
                EXPECT_LT(turned, 0.4 * twice) << "frame " << n;
                ++checkedPairs;
            }
        }
        std::swap(previous, current);
    }
    EXPECT_GT(litFrames, static_cast<long>(expected) / 2);
    EXPECT_GT(checkedPairs, 10);
}

}  // namespace
