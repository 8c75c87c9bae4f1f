#pragma once

#include <atomic>
#include <functional>
#include <thread>

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
