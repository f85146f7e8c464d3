// The software device's helpers: a few threads, started with a device and
// ended with it, that rasterise the bands of a flush together with the
// thread that asked for it, and one of which may draw while the scene is
// still being recorded. With one thread (one core, RINGSCROLLER_THREADS=1,
// a build without threads, or threads the system refused) everything runs on
// the calling thread; the bands and their order are the same either way.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace standin {

class Workers {
public:
    // Up to `threads` threads in all, the caller included.
    explicit Workers(int threads);
    ~Workers() { Stop(); }
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    // Threads that take part in Run, the caller included.
    int Threads() const { return static_cast<int>(pool.size()) + 1; }

    // Calls task(context, i) once for every i in 0 .. count-1, in any order
    // and on any of the threads; returns when every call has returned.
    using Task = void (*)(void* context, int index);
    void Run(int count, Task task, void* context);

    // Hands task(context, 0) to one of the threads and returns at once;
    // false when there is none to take it. Join before the next Start or
    // Stop; a Run meanwhile goes on without that thread until it is done.
    bool Start(Task task, void* context);
    // Waits for the task Start handed out to return; or, when no thread has
    // taken it yet, takes it back so that it never runs. True if it ran.
    bool Join();

    // Ends and joins the threads; Run then works on the caller alone.
    void Stop();

private:
    // The work on offer: a generation (bumped by each Run), how many tasks
    // it has and how many have been handed out, in one word so that a
    // thread still looking at an old generation can never take a task of
    // the next one.
    static uint64_t Ticket(uint64_t generation, uint64_t count, uint64_t next) {
        return generation << 32 | count << 16 | next;
    }
    void Drain(uint64_t generation);
    void Work();
    bool Pending(uint64_t seen) const;
    bool LookFor(uint64_t seen) const;

    std::atomic<uint64_t> ticket{0};
    std::atomic<int> remaining{0};
    Task task = nullptr;
    void* context = nullptr;

    // The task Start hands out, and how far it is.
    enum : int { kIdle, kOffered, kTaken, kDone };
    std::atomic<int> side{kIdle};
    Task sideTask = nullptr;
    void* sideContext = nullptr;

    std::mutex mutex;
    std::condition_variable wake;
    std::atomic<bool> stopping{false};
    std::vector<std::thread> pool;
};

// A loop waiting for another thread calls Step each time round: it pauses
// for a short while, then yields the core each time, so that a wait that
// lasts gives way to whatever else the machine needs it for (on a loaded
// machine, possibly the very thread waited for).
class SpinWait {
public:
    void Step();
    // Since the first Step.
    std::chrono::steady_clock::duration Waited() const { return now - since; }

private:
    long steps = 0;
    std::chrono::steady_clock::time_point since, now;
};

// How many threads a device rasterises with: RINGSCROLLER_THREADS when set
// (at least 1), otherwise one a core, at most 8.
int DrawingThreads();

}  // namespace standin
