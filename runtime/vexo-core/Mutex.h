#pragma once

#include "vexo-core/ThreadAnnotations.h"

#include <mutex>

namespace vexo {
namespace core {

// A std::mutex that clang's thread-safety analysis knows as a lock. Hold it through
// MutexLocker; wait on condition variables through MutexLocker::wait.
class VEXO_CAPABILITY("mutex") Mutex
{
public:
    void lock() VEXO_ACQUIRE() { m.lock(); }
    void unlock() VEXO_RELEASE() { m.unlock(); }
    bool try_lock() VEXO_TRY_ACQUIRE(true) { return m.try_lock(); }

private:
    friend class MutexLocker;
    std::mutex m;
};

} // namespace core
} // namespace vexo
