#pragma once

#include <atomic>

namespace vexo {
namespace core {

// Counts the users of a runtime library. A release without a matching acquire is ignored
// rather than wrapping, so repeated deinits stay harmless. Any thread.
class UseCounter
{
public:
    unsigned acquire() { return ++count; }

    unsigned release()
    {
        unsigned current = count.load();
        while (current > 0 && !count.compare_exchange_weak(current, current - 1)) { }
        return current;
    }

    unsigned value() const { return count.load(); }

private:
    std::atomic<unsigned> count{0};
};

} // namespace core
} // namespace vexo
