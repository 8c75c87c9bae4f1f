#pragma once

#include "frame/Guard.h"
#include "frame/RecursiveMutex.h"

namespace vexo::templates::platform {

// Holds a RecursiveMutex for its lifetime; nests freely on the owning thread.
class RecursiveMutexGuard : public patterns::Guard<RecursiveMutex*>
{
public:
    explicit RecursiveMutexGuard(RecursiveMutex* mutex)
        : Guard(mutex)
    {
        target->lock();
    }

    ~RecursiveMutexGuard() override
    {
        if (active)
            target->unlock();
    }
};

} // namespace vexo::templates::platform
