#pragma once

// Operating-system specifics of the library frame. Everything that depends on the host
// system lives in this header and Platform.cpp, so a port replaces only these two files;
// the locks above them use std::atomic for their interlocked operations.

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vexo::templates::platform {

// The kernel's 32-bit id of a thread; never 0, so 0 can mean "no owner".
using ThreadId = std::uint32_t;

// Id of the calling thread. Cheap after the first call on a thread.
ThreadId currentThreadId();

// Processor hint for the body of a busy-wait loop.
void cpuPause();

// An event that stays signalled until reset; while signalled, wait() returns at once for
// every thread. A waiter that has not run yet when set() is undone by reset() sleeps on
// until the next set(); users re-check their own state after every wait, so they only
// rely on the signal eventually reaching them. Every member may be called from any
// thread.
class ManualResetEvent
{
public:
    explicit ManualResetEvent(bool initiallySignalled);

    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void set(); // releases every waiting thread
    void reset();
    void wait(); // blocks until signalled; no timeout

private:
    std::mutex mutex_; // guards signalled_
    std::condition_variable becameSignalled_;
    bool signalled_;
};

} // namespace vexo::templates::platform
