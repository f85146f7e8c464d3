// The SDL host: when frames are shown, against simulated displays of many
// rates; what the window's events mean to the program, in a window and full
// screen (through SDL's dummy video driver, so no display is needed); and a
// display that cannot be opened.
#include <SDL.h>

#include "fixture.h"
#include "platform/host/sdl/pacing.h"

// Probing for a display starts SDL's D-Bus connection, whose data libdbus keeps until the process
// ends (tests/lsan.supp says the same for whole runs); the sanitizer build's leak check is told so.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

namespace {

using standin::host::FramePacer;
using Time = FramePacer::Time;
using std::chrono::nanoseconds;
using Seconds = std::chrono::duration<double>;

nanoseconds Hz(double rate) { return nanoseconds(static_cast<int64_t>(1e9 / rate + 0.5)); }

// How a renderer with vsync hands a frame over: the present returns at the refresh that shows it;
// one frame may wait for its refresh and a second present waits until it is shown; no vsync.
enum class Swap { blocking, queued, none };

struct SimRun {
    double framesPerSecond;
    // The fewest and most refreshes a frame after the first second stayed on the screen (0: never shown).
    int64_t shortest, longest;
    bool lockedAtEnd;
    int presentsPerFrame;
};

// The program's loop on a simulated display: each frame takes 1 to 6 ms to draw, sleeps wake up to
// 0.3 ms late (a fixed pseudo-random sequence, the same every run), and the pacer is told as the host does.
SimRun Simulate(Seconds seconds, nanoseconds refreshPeriod, Swap swap, bool vsync, int reportedHz) {
    const Time start = Time{} + std::chrono::hours(1), settled = start + std::chrono::seconds(1);
    // The display has its own refresh clock, which never runs at exactly the program's.
    const Time origin = start + nanoseconds(3'100'000);
    int64_t queuedRefresh = -1;  // the refresh the last queued frame shows at
    auto refreshTime = [&](int64_t n) { return origin + refreshPeriod * n; };
    // Presents at `now`: sets the refresh the frame first shows at, returns when the present returns.
    auto present = [&](Time now, int64_t& refresh) {
        refresh = (now - origin) / refreshPeriod + 1;
        if (swap == Swap::none) return now;
        if (swap == Swap::blocking) return refreshTime(refresh);
        const Time back = queuedRefresh >= 0 ? std::max(now, refreshTime(queuedRefresh)) : now;
        refresh = queuedRefresh = std::max(refresh, queuedRefresh + 1);
        return back;
    };
    FramePacer pacer;
    pacer.Start(vsync, reportedHz);
    uint32_t state = 12345;
    auto jitter = [&](int64_t low, int64_t high) {
        state = state * 1664525u + 1013904223u;
        return nanoseconds(low + (high - low) * (state >> 8) / (1 << 24));
    };
    Time now = start;
    int64_t frames = 0, previous = -1, shortest = INT64_MAX, longest = 0;
    while (now - start < seconds) {
        now += jitter(1'000'000, 6'000'000);
        Time at = pacer.PresentAt(now);
        if (at > now) now = at + jitter(0, 300'000);
        int64_t refresh = 0, shownAt = 0;
        for (int i = 0; i < pacer.PresentsPerFrame(); ++i) {
            now = present(now, shownAt);
            if (i == 0) refresh = shownAt;
        }
        pacer.Presented(now);
        if (now < settled) continue;
        // A frame whose successor shows at the same refresh was never seen.
        if (previous >= 0) {
            shortest = std::min(shortest, refresh - previous);
            longest = std::max(longest, refresh - previous);
        }
        previous = refresh;
        ++frames;
    }
    return {frames / (Seconds(seconds).count() - 1.0), shortest, longest, pacer.Locked(), pacer.PresentsPerFrame()};
}

// Displays faster than the mode and not a whole multiple of it, or without vsync: the 60 Hz clock
// sets the pace, and a refresh only aligns each frame. A display that says 60 Hz but does not wait
// for its refresh (vsync off in the driver, a wrong report) would run the text as fast as the
// machine draws; a 240 Hz one whose presents all wait leaves 4 ms to draw a frame in: within about
// a second the clock takes over (those are only held to the rate: 0 refreshes given).
TEST(FramePacing, AnyOtherDisplayShowsSixtyFramesASecond) {
    struct { const char* name; double hz; Swap swap; bool vsync; int reported; int64_t shortest, longest; } cases[] = {
        {"144 Hz, present waits for the refresh", 144.0, Swap::blocking, true, 144, 2, 3},
        {"144 Hz, frames queued", 144.0, Swap::queued, true, 144, 2, 3},
        {"75 Hz", 75.0, Swap::queued, true, 75, 1, 2},
        {"165 Hz, rate unknown", 165.0, Swap::blocking, true, 0, 2, 3},
        {"no vsync", 144.0, Swap::none, false, 144, 2, 3},
        {"vsync ignored", 60.0, Swap::none, true, 60, 0, 0}, {"really 75 Hz", 75.0, Swap::blocking, true, 60, 0, 0},
        {"really 144 Hz", 144.0, Swap::queued, true, 60, 0, 0}, {"240 Hz, presents wait", 240.0, Swap::blocking, true, 240, 0, 0}};
    for (const auto& c : cases) {
        const bool heldToTheRate = c.longest == 0;
        SimRun run = Simulate(Seconds(heldToTheRate ? 60 : 120), Hz(c.hz), c.swap, c.vsync, c.reported);
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(run.lockedAtEnd);
        EXPECT_NEAR(run.framesPerSecond, 60.0, heldToTheRate ? 0.6 : 0.06);
        EXPECT_TRUE(heldToTheRate || (run.shortest >= c.shortest && run.longest <= c.longest))
            << "no frame lost, none held long: " << run.shortest << " to " << run.longest << " refreshes";
    }
}

// A display at the mode's rate, or a whole multiple of it, sets the pace itself: every frame stays
// up for the same number of refreshes however its clock drifts; a clock would beat against it.
TEST(FramePacing, ADisplayAtTheModesRateShowsEveryFrameForTheSameTime) {
    struct { const char* name; double hz; int reported; int64_t refreshesPerFrame; } cases[] = {
        {"60 Hz exactly", 60.0, 60, 1},       {"60 Hz, a little fast", 60.006, 60, 1},
        {"60 Hz, a little slow", 59.994, 60, 1}, {"59.94 Hz, said as 59", 59.94, 59, 1},
        {"120 Hz", 120.012, 120, 2},          {"119.88 Hz, said as 119", 119.88, 119, 2},
        {"240 Hz", 240.0, 240, 4}};
    for (Swap swap : {Swap::blocking, Swap::queued})
        for (const auto& c : cases) {
            // Presents that wait for 240 Hz refreshes leave 4 ms to draw in (below).
            if (swap == Swap::blocking && c.refreshesPerFrame == 4) continue;
            SimRun run = Simulate(Seconds(200), Hz(c.hz), swap, true, c.reported);
            SCOPED_TRACE(std::string(c.name) + (swap == Swap::queued ? ", queued" : ", blocking"));
            EXPECT_TRUE(run.lockedAtEnd && run.presentsPerFrame == c.refreshesPerFrame);
            EXPECT_EQ(run.shortest, c.refreshesPerFrame);
            EXPECT_EQ(run.longest, c.refreshesPerFrame);
            EXPECT_NEAR(run.framesPerSecond, c.hz / c.refreshesPerFrame, 0.05);
        }
}

// A frame late by more than a frame (a stall) starts a new schedule: the frames after it come a
// frame apart, not in a burst. Less late keeps the schedule, so waiting for a refresh costs no frame.
TEST(FramePacing, AStallStartsANewScheduleAndASmallDelayDoesNot) {
    using std::chrono::milliseconds;
    FramePacer pacer;
    pacer.Start(false, 0);
    Time now = Time{} + std::chrono::hours(1);
    EXPECT_EQ(pacer.PresentAt(now), now) << "the first frame is shown at once";
    now += milliseconds(250);
    Time previous = pacer.PresentAt(now);
    EXPECT_EQ(previous, now) << "a stalled frame is shown at once";
    for (int i = 0; i < 5; ++i) {
        Time at = pacer.PresentAt(previous + milliseconds(1));
        EXPECT_EQ(at - previous, FramePacer::kFrame) << "frame " << i << " after the stall";
        previous = at;
    }
    // 10 ms late: shown at once, and the next frame keeps the old tick.
    Time late = previous + FramePacer::kFrame + milliseconds(10);
    EXPECT_LE(pacer.PresentAt(late), late);
    EXPECT_EQ(pacer.PresentAt(late + milliseconds(1)), previous + 2 * FramePacer::kFrame);
}

// An inactive program's passes come on the mode's ticks, on any display.
TEST(FramePacing, AnInactiveProgramWaitsForEachTick) {
    for (int reported : {0, 60, 144}) {
        FramePacer pacer;
        pacer.Start(true, reported);
        const Time start = Time{} + std::chrono::hours(1);
        int passes = 0;
        for (Time now = start; now - start < std::chrono::seconds(10); ++passes)
            now = std::max(now + std::chrono::microseconds(400), pacer.NextTick(now + std::chrono::microseconds(400)));
        EXPECT_NEAR(passes, 600, 1) << "display at " << reported << " Hz";
    }
}

// The host window's events through SDL's dummy driver, with the demo's screen open.
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
        for (const char* name : {"SDL_VIDEODRIVER", "RINGSCROLLER_DISPLAY"}) unsetenv(name);
    }
    static void Send(Uint8 event) {
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.event = event;
        ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
    }
};

// What each sequence of events means for activation (WM_ACTIVATE, whether frames are presented,
// video memory) and for the keyboard: a window is in front while shown, full screen only with the
// focus, and in a window only the keys need the focus.
TEST_F(HostWindowTest, ActivationAndKeyboardFollowTheWindowsEvents) {
    enum : Uint8 {
        lost = SDL_WINDOWEVENT_FOCUS_LOST, gained = SDL_WINDOWEVENT_FOCUS_GAINED, minimised = SDL_WINDOWEVENT_MINIMIZED,
        restored = SDL_WINDOWEVENT_RESTORED, hidden = SDL_WINDOWEVENT_HIDDEN, shown = SDL_WINDOWEVENT_SHOWN
    };
    struct Case { const char* kind; std::vector<Uint8> events; bool active, keyboard; } cases[] = {
        {"window", {lost}, true, false}, {"window", {lost, gained}, true, true},
        {"window", {lost, minimised}, false, false}, {"window", {minimised, lost, restored}, true, false},
        {"window", {minimised, restored, gained}, true, true}, {"window", {hidden}, false, false},
        {"window", {hidden, shown}, true, true},
        {"fullscreen", {lost}, false, false}, {"fullscreen", {lost, gained}, true, true},
        {"fullscreen", {minimised}, false, false}, {"fullscreen", {minimised, restored}, true, true},
        {"fullscreen", {minimised, lost, restored}, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + ", case " + std::to_string(&c - cases));
        Open(c.kind);
        for (Uint8 event : c.events) Send(event);
        FlipBuffers();  // the pump, where host events arrive
        EXPECT_EQ(PollKeyboard() == 1, c.keyboard);
        EXPECT_EQ(screen.active, c.active ? 1 : 0);
        EXPECT_EQ(Front().lost, !c.active) << "video memory goes with the activation";
        TearDown();
        SetUp();
    }
}

// Alt-Tab away and back within one frame is still a deactivation: the display was someone else's
// for a moment, so the surfaces are lost and the next flip restores them, as on Windows.
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

// A DISPLAY nobody answers (a stale ssh forwarding): SDL would quietly pick a driver that shows
// nothing. The program says so and runs headless; a driver asked for by name says nothing.
TEST(HostDisplay, ADisplayThatCannotBeOpenedIsReportedAndRunsHeadless) {
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr), display("DISPLAY", ":7919");  // no X server listens there
    for (auto [driver, kind] : {std::pair<const char*, const char*>{nullptr, "window"}, {nullptr, "fullscreen"},
                                {"dummy", "fullscreen"}}) {
        ScopedEnv named("SDL_VIDEODRIVER", driver), shown("RINGSCROLLER_DISPLAY", kind);
        standin::host::ResetDisplay();
        testing::internal::CaptureStderr();
        const standin::host::DisplayKind got = standin::host::Kind();
        const std::string said = testing::internal::GetCapturedStderr();
        SCOPED_TRACE(std::string(kind) + (driver ? ", named driver: " : ": ") + said);
        EXPECT_EQ(got, driver ? standin::host::DisplayKind::fullscreen : standin::host::DisplayKind::headless);
        EXPECT_EQ(said.find("ringscroller: cannot open display \":7919\"") != std::string::npos, !driver);
        EXPECT_TRUE(driver || !standin::host::VideoActive());
    }
    standin::host::ResetDisplay();
}

}  // namespace
