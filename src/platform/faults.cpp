// Scheduled failures, the call record, and the test overrides of the stand-in.
#include "platform/faults.h"

#include <cstdio>
#include <map>

#include "platform/host/host.h"
#include "platform/standin.h"

namespace {

struct Schedule {
    int after;  // calls that still succeed before the failures start
    int times;  // failures left; -1 for ever
};

std::map<std::string, Schedule> schedules;
bool recording = false;
std::vector<std::string> recorded;

struct Masks {
    DWORD red, green, blue;
};
std::map<int, Masks> maskOverrides;
int displayDpi = 96;

bool Consume(const std::string& name) {
    auto it = schedules.find(name);
    if (it == schedules.end()) return false;
    Schedule& s = it->second;
    if (s.after > 0) {
        --s.after;
        return false;
    }
    if (s.times == 0) return false;
    if (s.times > 0) --s.times;
    return true;
}

}  // namespace

namespace {
long frameLimit = 0, framesSeen = 0;
}  // namespace

namespace standin {
bool FrameLimitPassed() { return frameLimit > 0 && ++framesSeen > frameLimit; }
}  // namespace standin

namespace faults {

void Reset() {
    frameLimit = 0;
    schedules.clear();
    recording = false;
    recorded.clear();
    maskOverrides.clear();
    displayDpi = 96;
    TrapExit(false);
    standin::ResetD3D();
    standin::ResetDInput();
    standin::ResetDSound();
    standin::ResetDDraw();
    standin::ResetGdi();
    standin::ResetUser();
    standin::ResetKernel();
    standin::host::Reset();
}

void StopAfterFrames(long frames) {
    frameLimit = frames;
    framesSeen = 0;
}

void Fail(const std::string& call, int times, int after) { schedules[call] = Schedule{after, times}; }

void Heal(const std::string& call) { schedules.erase(call); }

bool Hit(const std::string& call) {
    Record(call);
    if (schedules.empty()) return false;
    bool fail = Consume(call);
    size_t space = call.find(' ');
    if (!fail && space != std::string::npos) fail = Consume(call.substr(0, space));
    if (fail) standin::TraceFailure(call + " (scheduled)", E_FAIL);
    return fail;
}

void Record(const std::string& call) {
    if (recording) recorded.push_back(call);
}

void StartRecording() {
    recorded.clear();
    recording = true;
}

void StopRecording() { recording = false; }

const std::vector<std::string>& Recorded() { return recorded; }

std::vector<std::string> RecordedMatching(const std::vector<std::string>& prefixes) {
    std::vector<std::string> out;
    for (const std::string& call : recorded) {
        for (const std::string& p : prefixes) {
            if (call.compare(0, p.size(), p) == 0) {
                out.push_back(call);
                break;
            }
        }
    }
    return out;
}

void LoseDisplay() { standin::LoseAllSurfaces(); }

void SetDisplayMasks(int bitsPerPixel, DWORD red, DWORD green, DWORD blue) {
    maskOverrides[bitsPerPixel] = Masks{red, green, blue};
}

void SetForeground(bool inFront) { standin::HostFocusChanged(inFront); }

void SetKeyboardFocus(bool focused) { standin::HostKeyboardFocusChanged(focused); }

void HoldKey(int scanCode, bool held) { standin::host::SetKey(scanCode, held); }

void SetDisplayDpi(int dpi) { displayDpi = dpi; }

}  // namespace faults

namespace standin {

bool DisplayMasksOverride(int bitsPerPixel, DWORD& red, DWORD& green, DWORD& blue) {
    auto it = maskOverrides.find(bitsPerPixel);
    if (it == maskOverrides.end()) return false;
    red = it->second.red;
    green = it->second.green;
    blue = it->second.blue;
    return true;
}

int DisplayDpi() { return displayDpi; }

}  // namespace standin
