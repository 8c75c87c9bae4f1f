#pragma once

#include "vexo-core/MutexLocker.h"
#include "vexo-core/StopWatch.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>

namespace vexo {
namespace core {

// The paced sources' wait for a frame's time: sleeps on `wake` through `lock` until the
// time base reaches `due` (true) or `cancelled` is set (false). The caller holds `lock`,
// the lock that guards `cancelled` and that cancel() takes before it notifies `wake`.
inline bool sleepUntilOrCancelled(MutexLocker& lock, std::condition_variable& wake, const bool& cancelled,
                                  std::uint64_t due)
{
    for (;;) {
        if (cancelled)
            return false;
        const std::uint64_t now = StopWatch::nowMicroseconds();
        if (now >= due)
            return true;
        lock.waitFor(wake, std::chrono::microseconds(due - now));
    }
}

} // namespace core
} // namespace vexo
