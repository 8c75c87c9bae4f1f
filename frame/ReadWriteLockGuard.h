#pragma once

#include "frame/Guard.h"
#include "frame/ReadWriteLock.h"

#include <cassert>

namespace vexo::templates::platform {

// Holds a ReadWriteLock for reading (mode 1) or writing (mode 2) for its lifetime.
class ReadWriteLockGuard : public patterns::Guard<ReadWriteLock*>
{
public:
    static constexpr int ReadAccess = 1;
    static constexpr int WriteAccess = 2;

    ReadWriteLockGuard(ReadWriteLock* lock, int mode)
        : Guard(lock)
        , mode(mode)
    {
        assert(mode == ReadAccess || mode == WriteAccess);
        if (mode == ReadAccess)
            target->lockRead();
        else if (mode == WriteAccess)
            target->lockWrite();
        else
            active = false; // took nothing, so must give nothing back
    }

    ~ReadWriteLockGuard() override
    {
        if (active)
            target->unlock();
    }

    const int mode;
};

} // namespace vexo::templates::platform
