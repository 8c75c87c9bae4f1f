#pragma once

#include <atomic>
#include <cstdint>

namespace vexo {
namespace core {

// Counts one kind of overflow event reported by the host. The host may report from any
// thread while the GUI thread's refresh reads; atomics keep each field whole without a lock.
struct OverflowEventRecord
{
    std::atomic<bool> supported{false};
    std::atomic<std::uint64_t> count{0};
    std::atomic<std::uint64_t> lastValue{0};

    void reset()
    {
        count.store(0);
        lastValue.store(0);
    }
};

} // namespace core
} // namespace vexo
