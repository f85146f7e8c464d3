#include "platform/workers.h"

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

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

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
        stopping = true;
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

// Between flushes the threads sleep: one kept spinning would take clock
// speed from the thread recording the next scene, which costs more than
// waking it does.
void Workers::Work() {
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [&] { return stopping || GenerationOf(ticket.load(std::memory_order_acquire)) != seen; });
            if (stopping) return;
            seen = GenerationOf(ticket.load(std::memory_order_acquire));
        }
        Drain(seen);
    }
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
    for (long spins = 0; remaining.load(std::memory_order_acquire) != 0; ++spins) {
        if (spins < 200000) Pause();
        else std::this_thread::yield();
    }
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
