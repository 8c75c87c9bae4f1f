#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace vexo::templates::platform {

// A mutex the owning thread may lock again; every lock() needs its own unlock(), on the
// thread that locked. Blocks without timeout.
class RecursiveMutex
{
public:
    RecursiveMutex();
    virtual ~RecursiveMutex();

    RecursiveMutex(const RecursiveMutex&) = delete;
    RecursiveMutex& operator=(const RecursiveMutex&) = delete;

    void lock();
    void unlock();

    // How often the current holder has locked without unlocking yet; 0 when free. Exact
    // on the holding thread, a snapshot on any other.
    std::int32_t lockCount() const;

private:
    std::recursive_mutex mutex_;
    std::atomic<std::int32_t> lockCount_{0}; // changed only while mutex_ is held
};

} // namespace vexo::templates::platform
