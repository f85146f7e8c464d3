// The SDL host: when frames are shown, against simulated displays of many
// rates; what the window's events mean to the program, in a window and full
// screen (through SDL's dummy video driver, so no display is needed); and a
// display that cannot be opened.
#include <SDL.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fixture.h"
#include "platform/host/host.h"
#include "platform/host/sdl/pacing.h"
#include "screen/present.h"

// Probing for a display starts SDL's D-Bus connection, whose data libdbus
// keeps until the process ends (tests/lsan.supp says the same for whole
// runs); the sanitizer build's leak check is told so.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

namespace {

using standin::host::FramePacer;
using Time = FramePacer::Time;
using std::chrono::duration;
using std::chrono::nanoseconds;
using Seconds = duration<double>;

nanoseconds Hz(double rate) { return nanoseconds(static_cast<int64_t>(1e9 / rate + 0.5)); }

// How a renderer with vsync hands a frame to the display.
enum class Swap {
    blocking,  // the present returns at the refresh that shows the frame
    queued,    // one frame may wait for its refresh; a second present waits until it is shown
    none,      // no vsync: shown at once
};

// A display with its own refresh clock, which never runs at exactly the
// program's: it records the refresh at which each present first shows.
struct SimDisplay {
    nanoseconds period;
    Swap swap;
    Time origin;
    int64_t queuedRefresh = -1;  // the refresh the last queued frame shows at

    Time RefreshTime(int64_t n) const { return origin + period * n; }
    int64_t RefreshAfter(Time t) const { return (t - origin) / period + 1; }

    // Presents at `now`; returns when the present returns and sets the refresh it shows at.
    Time Present(Time now, int64_t& refresh) {
        switch (swap) {
            case Swap::none:
                refresh = RefreshAfter(now);
                return now;
            case Swap::blocking:
                refresh = RefreshAfter(now);
                return RefreshTime(refresh);
            case Swap::queued: {
                Time back = now;
                if (queuedRefresh >= 0 && RefreshTime(queuedRefresh) > now) back = RefreshTime(queuedRefresh);
                refresh = std::max(RefreshAfter(now), queuedRefresh + 1);
                queuedRefresh = refresh;
                return back;
            }
        }
        return now;
    }
};

// A small fixed pseudo-random sequence: the same run every time.
struct Jitter {
    uint32_t state = 12345;
    nanoseconds Next(nanoseconds low, nanoseconds high) {
        state = state * 1664525u + 1013904223u;
        return low + (high - low) * (state >> 8) / (1 << 24);
    }
};

struct SimRun {
    double framesPerSecond = 0;
    // For each frame after the first second: how many refreshes it stayed on
    // the screen (0: replaced before it was ever shown).
    std::vector<int64_t> holds;
    bool lockedAtEnd = false;
    int presentsPerFrame = 0;

    int64_t Count(int64_t refreshes) const { return std::count(holds.begin(), holds.end(), refreshes); }
    int64_t Shortest() const { return *std::min_element(holds.begin(), holds.end()); }
    int64_t Longest() const { return *std::max_element(holds.begin(), holds.end()); }
};

// The program's loop on a simulated display for `seconds`: each frame takes
// 1 to 6 ms to draw, sleeps wake up to 0.3 ms late, and the frame is handed
// to the pacer as the host does.
SimRun Simulate(Seconds seconds, nanoseconds refreshPeriod, Swap swap, bool vsync, int reportedHz) {
    const Time start = Time{} + std::chrono::hours(1);
    SimDisplay display{refreshPeriod, swap, start + nanoseconds(3'100'000)};
    FramePacer pacer;
    pacer.Start(vsync, reportedHz);
    Jitter jitter;
    Time now = start;
    std::vector<int64_t> firstRefresh;
    int64_t frames = 0;
    int64_t framesAfterFirstSecond = 0;
    const Time settled = start + std::chrono::seconds(1);
    while (now - start < seconds) {
        now += jitter.Next(nanoseconds(1'000'000), nanoseconds(6'000'000));
        Time at = pacer.PresentAt(now);
        if (at > now) now = at + jitter.Next(nanoseconds(0), nanoseconds(300'000));
        int64_t refresh = 0;
        const int presents = pacer.PresentsPerFrame();
        for (int i = 0; i < presents; ++i) {
            int64_t shownAt = 0;
            now = display.Present(now, shownAt);
            if (i == 0) refresh = shownAt;
        }
        pacer.Presented(now);
        ++frames;
        if (now >= settled) {
            ++framesAfterFirstSecond;
            firstRefresh.push_back(refresh);
        }
    }
    SimRun run;
    run.framesPerSecond = framesAfterFirstSecond / (Seconds(seconds).count() - 1.0);
    // A frame whose successor shows at the same refresh was never seen.
    for (size_t i = 0; i + 1 < firstRefresh.size(); ++i) run.holds.push_back(firstRefresh[i + 1] - firstRefresh[i]);
    run.lockedAtEnd = pacer.Locked();
    run.presentsPerFrame = pacer.PresentsPerFrame();
    return run;
}

std::string Describe(const char* name, const SimRun& run) {
    return std::string(name) + ": " + std::to_string(run.framesPerSecond) + " frames/s, held " +
           std::to_string(run.Shortest()) + " to " + std::to_string(run.Longest()) + " refreshes";
}

// Displays faster than the mode and not a whole multiple of it, or without
// vsync: the 60 Hz clock sets the pace, and a refresh only aligns each frame.
TEST(FramePacing, AnyOtherDisplayShowsSixtyFramesASecond) {
    struct Case {
        const char* name;
        double hz;
        Swap swap;
        bool vsync;
        int reported;
        int64_t shortest, longest;  // refreshes a frame stays on the screen
    };
    const Case cases[] = {
        {"144 Hz, present waits for the refresh", 144.0, Swap::blocking, true, 144, 2, 3},
        {"144 Hz, frames queued", 144.0, Swap::queued, true, 144, 2, 3},
        {"75 Hz", 75.0, Swap::queued, true, 75, 1, 2},
        {"165 Hz, rate unknown", 165.0, Swap::blocking, true, 0, 2, 3},
        {"no vsync", 144.0, Swap::none, false, 144, 2, 3},
    };
    for (const Case& c : cases) {
        SimRun run = Simulate(Seconds(120), Hz(c.hz), c.swap, c.vsync, c.reported);
        SCOPED_TRACE(Describe(c.name, run));
        EXPECT_FALSE(run.lockedAtEnd);
        EXPECT_NEAR(run.framesPerSecond, 60.0, 0.06);
        EXPECT_GE(run.Shortest(), c.shortest) << "no frame is lost";
        EXPECT_LE(run.Longest(), c.longest);
    }
}

// A display at the mode's rate, or a whole multiple of it, sets the pace
// itself: every frame stays on the screen for the same number of refreshes,
// however the display's clock drifts against the program's. A clock alone
// would beat against it and now and then show a frame twice or not at all.
TEST(FramePacing, ADisplayAtTheModesRateShowsEveryFrameForTheSameTime) {
    struct Case {
        const char* name;
        double hz;
        int reported;
        int64_t refreshesPerFrame;
    };
    const Case cases[] = {
        {"60 Hz exactly", 60.0, 60, 1},       {"60 Hz, a little fast", 60.006, 60, 1},
        {"60 Hz, a little slow", 59.994, 60, 1}, {"59.94 Hz, said as 59", 59.94, 59, 1},
        {"120 Hz", 120.012, 120, 2},          {"119.88 Hz, said as 119", 119.88, 119, 2},
        {"240 Hz", 240.0, 240, 4},
    };
    for (Swap swap : {Swap::blocking, Swap::queued}) {
        for (const Case& c : cases) {
            // Presents that wait for 240 Hz refreshes leave 4 ms to draw in (below).
            if (swap == Swap::blocking && c.refreshesPerFrame == 4) continue;
            SimRun run = Simulate(Seconds(200), Hz(c.hz), swap, true, c.reported);
            SCOPED_TRACE(Describe(c.name, run) + (swap == Swap::queued ? ", queued" : ", blocking"));
            EXPECT_TRUE(run.lockedAtEnd);
            EXPECT_EQ(run.presentsPerFrame, c.refreshesPerFrame);
            EXPECT_EQ(run.Shortest(), c.refreshesPerFrame);
            EXPECT_EQ(run.Longest(), c.refreshesPerFrame);
            EXPECT_NEAR(run.framesPerSecond, c.hz / c.refreshesPerFrame, 0.05);
        }
    }
}

// A display that says 60 Hz but does not wait for its refresh (vsync off in
// the driver, a wrong report) would run the text at whatever speed the
// machine draws; and one of 240 Hz whose every present waits for a refresh
// leaves 4 ms to draw a frame in, too little, so frames would come late.
// Within about a second the clock takes over.
TEST(FramePacing, ADisplayThatDoesNotKeepTheModesRateIsPacedByTheClock) {
    struct Case {
        const char* name;
        double hz;
        int reported;
        Swap swap;
    };
    const Case cases[] = {
        {"vsync ignored", 60.0, 60, Swap::none},
        {"really 75 Hz", 75.0, 60, Swap::blocking},
        {"really 144 Hz", 144.0, 60, Swap::queued},
        {"240 Hz, presents wait", 240.0, 240, Swap::blocking},
    };
    for (const Case& c : cases) {
        SimRun run = Simulate(Seconds(60), Hz(c.hz), c.swap, true, c.reported);
        SCOPED_TRACE(Describe(c.name, run));
        EXPECT_FALSE(run.lockedAtEnd);
        EXPECT_NEAR(run.framesPerSecond, 60.0, 0.6);
    }
}

// A frame late by more than a frame (a stall) starts a new schedule: the
// frames after it come a frame apart, not in a burst to catch up. Less late
// keeps the schedule, so a frame that waited for a refresh costs no frame.
TEST(FramePacing, AStallStartsANewScheduleAndASmallDelayDoesNot) {
    FramePacer pacer;
    pacer.Start(false, 0);
    Time now = Time{} + std::chrono::hours(1);
    const Time first = pacer.PresentAt(now);
    EXPECT_EQ(first, now) << "the first frame is shown at once";
    now += std::chrono::milliseconds(250);
    Time previous = pacer.PresentAt(now);
    EXPECT_EQ(previous, now) << "a stalled frame is shown at once";
    for (int i = 0; i < 5; ++i) {
        Time at = pacer.PresentAt(previous + std::chrono::milliseconds(1));
        EXPECT_EQ(at - previous, FramePacer::kFrame) << "frame " << i << " after the stall";
        previous = at;
    }
    // 10 ms late: shown at once, and the next frame keeps the old tick.
    Time late = previous + FramePacer::kFrame + std::chrono::milliseconds(10);
    EXPECT_LE(pacer.PresentAt(late), late);
    EXPECT_EQ(pacer.PresentAt(late + std::chrono::milliseconds(1)), previous + 2 * FramePacer::kFrame);
}

// An inactive program's passes come on the mode's ticks, on any display.
TEST(FramePacing, AnInactiveProgramWaitsForEachTick) {
    for (int reported : {0, 60, 144}) {
        FramePacer pacer;
        pacer.Start(true, reported);
        const Time start = Time{} + std::chrono::hours(1);
        Time now = start;
        int passes = 0;
        while (now - start < std::chrono::seconds(10)) {
            now += std::chrono::microseconds(400);  // the unseen frame's work
            now = std::max(now, pacer.NextTick(now));
            ++passes;
        }
        EXPECT_NEAR(passes, 600, 1) << "display at " << reported << " Hz";
    }
}

// The events of the host's window, through SDL's dummy video driver, with
// the demo's screen open: what each one means for activation (the window's
// WM_ACTIVATE, whether frames are presented) and for the keyboard.
class HostWindowTest : public RuntimeTest {
protected:
    void Open(const char* kind) {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("RINGSCROLLER_DISPLAY", kind, 1);
        standin::host::ResetDisplay();
        RuntimeTest::Open();
        ASSERT_EQ(OpenKeyboard(), 1);
        FlipBuffers();  // the first present opens the host's window,
        FlipBuffers();  // the next pump takes its first events
        ASSERT_TRUE(standin::host::VideoActive()) << SDL_GetError();
        ASSERT_EQ(screen.active, 1);
    }
    void TearDown() override {
        CloseKeyboard();
        CloseScreen();
        RuntimeTest::TearDown();
        unsetenv("SDL_VIDEODRIVER");
        unsetenv("RINGSCROLLER_DISPLAY");
    }
    static void Send(Uint8 event) {
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.event = event;
        ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
    }
    // One frame's worth: the pump (where host events arrive) and a poll.
    static bool FrameReadsKeys() {
        FlipBuffers();
        return PollKeyboard() == 1;
    }
};

struct EventCase {
    const char* name;
    std::vector<Uint8> events;
    bool active, keyboard;
};

const EventCase kWindowEvents[] = {
    {"focus lost: still in front, no keys", {SDL_WINDOWEVENT_FOCUS_LOST}, true, false},
    {"focus back", {SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_FOCUS_GAINED}, true, true},
    {"minimised", {SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_MINIMIZED}, false, false},
    {"restored without the focus", {SDL_WINDOWEVENT_MINIMIZED, SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_RESTORED}, true,
     false},
    {"restored with it", {SDL_WINDOWEVENT_MINIMIZED, SDL_WINDOWEVENT_RESTORED, SDL_WINDOWEVENT_FOCUS_GAINED}, true, true},
    {"hidden, focus kept", {SDL_WINDOWEVENT_HIDDEN}, false, false},
    {"shown again", {SDL_WINDOWEVENT_HIDDEN, SDL_WINDOWEVENT_SHOWN}, true, true},
};

const EventCase kFullScreenEvents[] = {
    {"focus lost", {SDL_WINDOWEVENT_FOCUS_LOST}, false, false},
    {"focus back", {SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_FOCUS_GAINED}, true, true},
    {"minimised with the focus", {SDL_WINDOWEVENT_MINIMIZED}, false, false},
    {"restored", {SDL_WINDOWEVENT_MINIMIZED, SDL_WINDOWEVENT_RESTORED}, true, true},
    {"restored, focus elsewhere", {SDL_WINDOWEVENT_MINIMIZED, SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_RESTORED},
     false, false},
};

TEST_F(HostWindowTest, AWindowIsInFrontWhileShownAndOnlyItsKeysNeedTheFocus) {
    for (const EventCase& c : kWindowEvents) {
        SCOPED_TRACE(c.name);
        Open("window");
        for (Uint8 event : c.events) Send(event);
        EXPECT_EQ(FrameReadsKeys(), c.keyboard);
        EXPECT_EQ(screen.active, c.active ? 1 : 0);
        EXPECT_EQ(Front().lost, !c.active) << "video memory goes with the activation";
        TearDown();
        SetUp();
    }
}

TEST_F(HostWindowTest, FullScreenIsInFrontOnlyWithTheFocus) {
    for (const EventCase& c : kFullScreenEvents) {
        SCOPED_TRACE(c.name);
        Open("fullscreen");
        for (Uint8 event : c.events) Send(event);
        EXPECT_EQ(FrameReadsKeys(), c.keyboard);
        EXPECT_EQ(screen.active, c.active ? 1 : 0);
        TearDown();
        SetUp();
    }
}

// Alt-Tab away and back within one frame is still a deactivation: the
// display was someone else's for a moment, so the surfaces are lost and the
// next flip restores them, as on Windows.
TEST_F(HostWindowTest, FocusLostAndWonBackWithinAFrameStillLosesTheDisplay) {
    Open("fullscreen");
    Send(SDL_WINDOWEVENT_FOCUS_LOST);
    Send(SDL_WINDOWEVENT_FOCUS_GAINED);
    faults::StartRecording();
    FlipBuffers();
    EXPECT_EQ(screen.active, 1);
    EXPECT_EQ(CountRecorded("DispatchMessageA 6"), 2) << "WM_ACTIVATE inactive, then active";
    EXPECT_EQ(CountRecorded("IDirectDraw7::RestoreAllSurfaces"), 1) << "the flip found the surfaces lost";
    EXPECT_FALSE(Front().lost);
}

// A DISPLAY nobody answers (a stale ssh forwarding): SDL would quietly pick
// a driver that shows nothing. The program says so and runs headless.
TEST(HostDisplay, ADisplayThatCannotBeOpenedIsReportedAndRunsHeadless) {
    const char* had = std::getenv("DISPLAY");
    std::string saved = had ? had : "";
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("SDL_VIDEODRIVER");
    setenv("DISPLAY", ":7919", 1);  // no X server listens there
    for (const char* kind : {"window", "fullscreen"}) {
        setenv("RINGSCROLLER_DISPLAY", kind, 1);
        standin::host::ResetDisplay();
        testing::internal::CaptureStderr();
        standin::host::DisplayKind got = standin::host::Kind();
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(got, standin::host::DisplayKind::headless) << kind;
        EXPECT_FALSE(standin::host::VideoActive());
        EXPECT_NE(said.find("ringscroller: cannot open display \":7919\""), std::string::npos) << said;
    }
    // A driver asked for by name is the user's choice, and says nothing.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    standin::host::ResetDisplay();
    testing::internal::CaptureStderr();
    EXPECT_EQ(standin::host::Kind(), standin::host::DisplayKind::fullscreen);
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("cannot open display"), std::string::npos);
    standin::host::ResetDisplay();
    unsetenv("SDL_VIDEODRIVER");
    unsetenv("RINGSCROLLER_DISPLAY");
    if (had) setenv("DISPLAY", saved.c_str(), 1);
    else unsetenv("DISPLAY");
}

}  // namespace
