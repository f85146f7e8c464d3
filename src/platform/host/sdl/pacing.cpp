#include "platform/host/sdl/pacing.h"

namespace standin::host {

namespace {

// A locked display's rate is checked over this many frames (about a second).
constexpr int kMeasuredFrames = 60;
// Showing them in less than this share of the mode's time is presenting too
// fast (above 61.2 Hz): the display's vsync is not what it said. Taking more
// than its inverse (below 58.8 Hz) on a display of a multiple of 60 means
// the drawing does not fit between its refreshes, when every present waits
// for one; the clock then keeps the rate. (At 60 Hz a slow program is slow
// either way, and a 59.94 Hz display is itself a little slow.)
constexpr double kTooFast = 0.98;

}  // namespace

void FramePacer::Start(bool vsync, int refreshHz) {
    *this = FramePacer{};
    // SDL gives whole hertz, rounded or cut: a 59.94 Hz display says 59 or
    // 60, a 119.88 Hz one 119 or 120.
    const int multiple = (refreshHz + 1) / 60;
    if (vsync && multiple >= 1 && refreshHz >= 60 * multiple - 1 && refreshHz <= 60 * multiple) {
        locked_ = true;
        presentsPerFrame_ = multiple;
    }
    measured_ = -1;
}

FramePacer::Time FramePacer::Tick(Time now) {
    // A program more than a frame behind (a stall, a slow frame, the first
    // frame) starts a new schedule rather than rushing to catch up; one less
    // late keeps it, so waits for the display's refresh cost no frames.
    if (!scheduled_ || now - next_ > kFrame) {
        next_ = now;
        scheduled_ = true;
    }
    Time at = next_;
    next_ += kFrame;
    return at;
}

FramePacer::Time FramePacer::PresentAt(Time now) { return locked_ ? now : Tick(now); }

void FramePacer::Presented(Time now) {
    if (!locked_) return;
    if (measured_ < 0) {
        measured_ = 0;
        measureStart_ = now;
        return;
    }
    if (++measured_ < kMeasuredFrames) return;
    const auto took = now - measureStart_;
    const auto expected = kFrame * kMeasuredFrames;
    if (took < expected * kTooFast || (presentsPerFrame_ > 1 && took > expected / kTooFast)) {
        locked_ = false;
        scheduled_ = false;
    }
    measured_ = 0;
    measureStart_ = now;
}

FramePacer::Time FramePacer::NextTick(Time now) {
    // Frames not shown break the run of presents being measured.
    measured_ = -1;
    return Tick(now);
}

}  // namespace standin::host
