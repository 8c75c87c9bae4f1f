#include "vexo-core/StopWatch.h"

#include <chrono>

namespace vexo {
namespace core {

StopWatch::StopWatch()
    : startMicroseconds(nowMicroseconds())
{
}

StopWatch::~StopWatch() = default;

std::uint64_t StopWatch::elapsedMicroseconds(bool reset)
{
    const std::uint64_t now = nowMicroseconds();
    const std::uint64_t start = reset ? startMicroseconds.exchange(now) : startMicroseconds.load();
    return now >= start ? now - start : 0;
}

void StopWatch::restart()
{
    startMicroseconds.store(nowMicroseconds());
}

std::uint64_t StopWatch::nowMicroseconds()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace core
} // namespace vexo
