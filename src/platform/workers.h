// The software device's helpers: a few threads, started with a device and
// ended with it, that rasterise the bands of a flush together with the
// thread that asked for it. With one thread (one core, RINGSCROLLER_THREADS=1,
// a build without threads, or threads the system refused) everything runs on
// the calling thread; the bands and their order are the same either way.
#pragma once

#include <atomic>
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

    std::atomic<uint64_t> ticket{0};
    std::atomic<int> remaining{0};
    Task task = nullptr;
    void* context = nullptr;

    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::vector<std::thread> pool;
};

// How many threads a device rasterises with: RINGSCROLLER_THREADS when set
// (at least 1), otherwise one a core, at most 8.
int DrawingThreads();

}  // namespace standin
