#include "frame/RecursiveMutex.h"

namespace vexo::templates::platform {

RecursiveMutex::RecursiveMutex() = default;

RecursiveMutex::~RecursiveMutex() = default;

void RecursiveMutex::lock()
{
    mutex_.lock();
    ++lockCount_;
}

void RecursiveMutex::unlock()
{
    // Count down while still holding the mutex: counting down after the release could
    // overlap the next holder's count-up and show it a count it never took.
    --lockCount_;
    mutex_.unlock();
}

std::int32_t RecursiveMutex::lockCount() const
{
    return lockCount_.load();
}

} // namespace vexo::templates::platform
