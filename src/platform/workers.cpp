#include "platform/workers.h"

#include <chrono>
#include <cstdlib>
#include <system_error>

namespace standin {

namespace {

constexpr int kMaxThreads = 8;

// The web build without threads has std::thread, whose constructor throws
// there, and usually no exceptions to catch that with.
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
constexpr bool kCanStartThreads = false;
#else
constexpr bool kCanStartThreads = true;
#endif
constexpr uint64_t kMaxTasks = 0xFFFF;

uint64_t GenerationOf(uint64_t ticket) { return ticket >> 32; }
uint64_t CountOf(uint64_t ticket) { return (ticket >> 16) & 0xFFFF; }
uint64_t NextOf(uint64_t ticket) { return ticket & 0xFFFF; }

// How long a thread that has run out of work looks for more before it
// sleeps: about a frame's recording at the demo's load, so that a thread
// is still awake for the next flush or the next scene. Waking one from
// sleep costs the waker a system call and, on a virtual machine, tens of
// microseconds before the thread runs.
constexpr auto kLookBeforeSleep = std::chrono::microseconds(300);
// How long a waiting thread spins before it yields the core.
constexpr auto kSpinBeforeYield = std::chrono::microseconds(50);

template <class Done>
void WaitUntil(Done done) {
    SpinWait wait;
    while (!done()) wait.Step();
}

}  // namespace

void SpinWait::Step() {
    // The time is read now and then: a pause lasts from a few cycles to a
    // hundred, depending on the CPU.
    if (steps++ % 64 == 0) {
        now = std::chrono::steady_clock::now();
        if (steps == 1) since = now;
    }
    if (now - since < kSpinBeforeYield) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    } else {
        std::this_thread::yield();
    }
}

Workers::Workers(int threads) {
    for (int i = 1; kCanStartThreads && i < threads && i < kMaxThreads; ++i) {
        try {
            pool.emplace_back(&Workers::Work, this);
        } catch (const std::system_error&) {
            break;  // a build or a system without threads: the caller does it all
        }
    }
}

void Workers::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping.store(true, std::memory_order_release);
    }
    wake.notify_all();
    for (std::thread& t : pool) t.join();
    pool.clear();
}

void Workers::Drain(uint64_t generation) {
    uint64_t t = ticket.load(std::memory_order_acquire);
    for (;;) {
        if (GenerationOf(t) != generation || NextOf(t) >= CountOf(t)) return;
        if (!ticket.compare_exchange_weak(t, t + 1, std::memory_order_acq_rel, std::memory_order_acquire)) continue;
        // Owning a task of this generation keeps Run from returning, so the
        // task and its context stay as Run set them.
        task(context, static_cast<int>(NextOf(t)));
        remaining.fetch_sub(1, std::memory_order_acq_rel);
        t = ticket.load(std::memory_order_acquire);
    }
}

bool Workers::Pending(uint64_t seen) const {
    return stopping.load(std::memory_order_acquire) || side.load(std::memory_order_acquire) == kOffered ||
           GenerationOf(ticket.load(std::memory_order_acquire)) != seen;
}

// True when work came within the while.
bool Workers::LookFor(uint64_t seen) const {
    SpinWait wait;
    while (!Pending(seen)) {
        if (wait.Waited() > kLookBeforeSleep) return false;
        wait.Step();
    }
    return true;
}

// Out of work, a thread looks for more for a short while, then sleeps: one
// kept spinning for long would take clock speed from the thread recording
// the next scene, which costs more than waking it does.
void Workers::Work() {
    uint64_t seen = 0;
    for (;;) {
        if (!LookFor(seen)) {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [&] { return Pending(seen); });
        }
        if (stopping.load(std::memory_order_acquire)) return;
        int offered = kOffered;
        if (side.compare_exchange_strong(offered, kTaken, std::memory_order_acq_rel)) {
            sideTask(sideContext, 0);
            side.store(kDone, std::memory_order_release);
        }
        const uint64_t generation = GenerationOf(ticket.load(std::memory_order_acquire));
        if (generation != seen) {
            seen = generation;
            Drain(seen);
        }
    }
}

bool Workers::Start(Task work, void* workContext) {
    if (pool.empty()) return false;
    sideTask = work;
    sideContext = workContext;
    {
        // Under the lock, so that a thread about to sleep cannot miss it.
        std::lock_guard<std::mutex> lock(mutex);
        side.store(kOffered, std::memory_order_release);
    }
    wake.notify_all();
    return true;
}

bool Workers::Join() {
    int state = side.load(std::memory_order_acquire);
    if (state == kIdle) return false;
    if (state == kOffered && side.compare_exchange_strong(state, kIdle, std::memory_order_acq_rel)) return false;
    WaitUntil([&] { return side.load(std::memory_order_acquire) == kDone; });
    side.store(kIdle, std::memory_order_relaxed);
    return true;
}

void Workers::Run(int count, Task work, void* workContext) {
    if (count <= 0) return;
    if (pool.empty() || count == 1) {
        for (int i = 0; i < count; ++i) work(workContext, i);
        return;
    }
    uint64_t n = static_cast<uint64_t>(count) < kMaxTasks ? static_cast<uint64_t>(count) : kMaxTasks;
    task = work;
    context = workContext;
    remaining.store(static_cast<int>(n), std::memory_order_relaxed);
    uint64_t generation = GenerationOf(ticket.load(std::memory_order_relaxed)) + 1;
    {
        // Under the lock, so that a thread about to sleep cannot miss it.
        std::lock_guard<std::mutex> lock(mutex);
        ticket.store(Ticket(generation, n, 0), std::memory_order_release);
    }
    wake.notify_all();
    Drain(generation);
    // The others are finishing the tasks they took, a band of rows each:
    // a short wait. Yielding at once would hand the rest of this thread's
    // time to whatever else the machine runs.
    WaitUntil([&] { return remaining.load(std::memory_order_acquire) == 0; });
    for (int i = static_cast<int>(n); i < count; ++i) work(workContext, i);
}

int DrawingThreads() {
    if (const char* v = std::getenv("RINGSCROLLER_THREADS")) {
        int n = std::atoi(v);
        if (n >= 1) return n < kMaxThreads ? n : kMaxThreads;
    }
    unsigned cores = std::thread::hardware_concurrency();
    if (cores <= 1) return 1;
    return cores < static_cast<unsigned>(kMaxThreads) ? static_cast<int>(cores) : kMaxThreads;
}

}  // namespace standin
