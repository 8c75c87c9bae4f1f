#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

// Runs a job on its own thread: `started` is set just before it, `finished` just after.
// Tests poll these instead of sleeping; `finished` still false while the job should be
// blocked is the proof that it is.
class ProbeThread
{
public:
    explicit ProbeThread(std::function<void()> job)
        : thread_([this, job = std::move(job)] { started = true; job(); finished = true; })
    {
    }
    ~ProbeThread() { thread_.join(); }
    ProbeThread(const ProbeThread&) = delete;
    ProbeThread& operator=(const ProbeThread&) = delete;

    std::atomic<bool> started{false}, finished{false};

private:
    std::thread thread_; // last, so the flags exist before the job runs
};

// Runs job(index) on `count` threads released together, so the jobs really overlap, and
// returns when all are done.
template <typename Job>
void runTogether(int count, Job job)
{
    std::atomic<int> arrived{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] {
            for (++arrived; arrived.load() < count;)
                std::this_thread::yield();
            job(i);
        });
    for (std::thread& thread : threads)
        thread.join();
}
