#pragma once

#include <atomic>
#include <cstdint>

namespace vexo {
namespace core {

// Measures microseconds on the monotonic clock. The scene hands one to the window with
// a timed-interrupt request; the window asks it how much of the delay has passed.
class StopWatch
{
public:
    StopWatch();
    virtual ~StopWatch();

    // Microseconds since construction or the last reset; with reset, the watch starts
    // again from now. Safe to call from any thread.
    virtual std::uint64_t elapsedMicroseconds(bool reset);

    void restart();

    // Microseconds on the monotonic clock; the common time base of the runtime.
    static std::uint64_t nowMicroseconds();

private:
    std::atomic<std::uint64_t> startMicroseconds;
};

} // namespace core
} // namespace vexo
