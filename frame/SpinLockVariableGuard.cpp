#include "frame/SpinLockVariableGuard.h"

#include "frame/Platform.h"

namespace vexo::templates::platform {

SpinLockVariableGuard::SpinLockVariableGuard(std::atomic<std::int32_t>* lockVariable,
                                             std::atomic<std::uint32_t>* ownerVariable)
    : lockVariable(lockVariable)
    , ownerVariable(ownerVariable)
    , locked(false)
{
    ThreadId self = 0;
    if (ownerVariable) {
        self = currentThreadId();
        if (ownerVariable->load() == self)
            return; // an outer guard on this thread holds the lock
    }

    // No back-off and no fairness: holders keep the lock for a few statements only.
    std::int32_t expected = 0;
    while (!lockVariable->compare_exchange_strong(expected, 1)) {
        expected = 0;
        cpuPause();
    }

    if (ownerVariable)
        ownerVariable->store(self);
    locked = true;
}

SpinLockVariableGuard::~SpinLockVariableGuard()
{
    if (!locked)
        return;
    // Owner first: once the word is 0 another thread may take the lock and write its id.
    if (ownerVariable)
        ownerVariable->store(0);
    lockVariable->exchange(0);
}

} // namespace vexo::templates::platform
