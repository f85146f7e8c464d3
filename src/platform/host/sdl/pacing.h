// When the SDL host shows a frame. Every display mode of the stand-in runs at
// 60 Hz, and the demo moves one glyph column per presented frame, so the
// frames must come 60 times a second whatever the physical display does: a
// 144 Hz desktop must not run the text at 144, and a program behind another
// window must not spin through frames nobody sees.
//
// Two ways of keeping the 60 Hz:
// - Locked: the display refreshes at 60 Hz or a whole multiple of it (120,
//   180, 240) and the renderer waits for its refresh. Each frame is then
//   presented n times (n = refresh / 60), and the display sets the pace. A
//   clock would beat against such a display: the two never run at exactly
//   the same rate, so now and then a tick lands on a refresh, and frames are
//   shown twice or never while the two drift through each other.
// - Clocked: any other display (75 Hz, 144 Hz, no vsync, or one whose rate is
//   unknown). Frames are presented on the ticks of a 60 Hz clock; vsync, if
//   any, only aligns each with the display's next refresh.
// A locked display that turns out to present faster than the mode (its
// reported rate was wrong, or its vsync is ignored), or a multiple whose
// refreshes leave too little time to draw a frame, is clocked from then on.
//
// Pure timing, no SDL: the host passes the time in and sleeps until the time
// it gets back, so tests can drive it with a simulated clock and display.
#pragma once

#include <chrono>

namespace standin::host {

class FramePacer {
public:
    using Clock = std::chrono::steady_clock;
    using Time = Clock::time_point;

    // The mode's frame: 1/60 s.
    static constexpr Clock::duration kFrame = std::chrono::nanoseconds(16'666'667);

    // A new display: `vsync` when the renderer waits for the display's
    // refresh, `refreshHz` the display's rate as it reports it (0: unknown).
    void Start(bool vsync, int refreshHz);

    // How many presents show one frame: n when locked, 1 when clocked.
    int PresentsPerFrame() const { return locked_ ? presentsPerFrame_ : 1; }
    bool Locked() const { return locked_; }

    // The frame is ready at `now`; returns when to present it (now, or the
    // clock's next tick).
    Time PresentAt(Time now);
    // The frame's presents have all returned, at `now`.
    void Presented(Time now);

    // The program is inactive and shows nothing: returns the mode's next
    // tick, when its next unseen frame may begin.
    Time NextTick(Time now);

private:
    Time Tick(Time now);

    bool locked_ = false;
    int presentsPerFrame_ = 1;
    // The clock: the next tick, once there is a schedule.
    bool scheduled_ = false;
    Time next_{};
    // Locked: frames counted since `measureStart_`, to catch a display that
    // presents faster than it said it would.
    int measured_ = 0;
    Time measureStart_{};
};

}  // namespace standin::host
