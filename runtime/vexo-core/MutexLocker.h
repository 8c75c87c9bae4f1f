#pragma once

#include "vexo-core/Mutex.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vexo {
namespace core {

// Holds a Mutex for its scope. The waits release the mutex while they block and hold it
// again when they return, so to the analysis the lock is held throughout: write them as
// loops over the guarded condition ("while (!ready) locker.wait(cv);").
class VEXO_SCOPED_CAPABILITY MutexLocker
{
public:
    explicit MutexLocker(Mutex& mutex) VEXO_ACQUIRE(mutex)
        : lock(mutex.m)
    {
    }
    ~MutexLocker() VEXO_RELEASE() { }
    MutexLocker(const MutexLocker&) = delete;
    MutexLocker& operator=(const MutexLocker&) = delete;

    void unlock() VEXO_RELEASE() { lock.unlock(); }
    void relock() VEXO_ACQUIRE() { lock.lock(); }

    void wait(std::condition_variable& cv) { cv.wait(lock); }
    // False when the time ran out.
    template <typename Rep, typename Period>
    bool waitFor(std::condition_variable& cv, const std::chrono::duration<Rep, Period>& timeout)
    {
        return cv.wait_for(lock, timeout) == std::cv_status::no_timeout;
    }
    template <typename Clock, typename Duration>
    bool waitUntil(std::condition_variable& cv, const std::chrono::time_point<Clock, Duration>& deadline)
    {
        return cv.wait_until(lock, deadline) == std::cv_status::no_timeout;
    }

private:
    std::unique_lock<std::mutex> lock;
};

} // namespace core
} // namespace vexo
