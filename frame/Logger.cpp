#include "frame/Logger.h"

#include "frame/Logging.h"
#include "frame/Platform.h"
#include "frame/RecursiveMutex.h"
#include "frame/RecursiveMutexGuard.h"

#include <atomic>
#include <set>

namespace vexo {
namespace tools {
namespace logging {

using vexo::templates::platform::RecursiveMutex;
using vexo::templates::platform::RecursiveMutexGuard;

struct Logger::D
{
    std::uint64_t id;
    // Guards suppressedThreads.
    RecursiveMutex threadLock;
    std::set<std::uint32_t> suppressedThreads;
    // Changed by the dispatcher from any thread without a lock; atomic keeps it whole.
    std::atomic<std::uint32_t> level;
};

Logger::Logger(std::uint64_t id, std::uint32_t level)
    : d(new D)
{
    d->id = id;
    d->level = level;
}

Logger::~Logger()
{
    delete d;
}

bool Logger::isEnabled(std::uint32_t level)
{
    if (level < d->level.load())
        return false;
    RecursiveMutexGuard guard(&d->threadLock);
    return d->suppressedThreads.count(vexo::templates::platform::currentThreadId()) == 0;
}

void Logger::log(std::uint32_t level, const char* message, std::uint32_t a, std::uintptr_t b)
{
    Logging::instance()->dispatchMessage(d->id, level, message, a, b);
}

bool Logger::setThreadEnabled(bool enabled)
{
    RecursiveMutexGuard guard(&d->threadLock);
    const std::uint32_t self = vexo::templates::platform::currentThreadId();
    const bool wasEnabled = d->suppressedThreads.count(self) == 0;
    if (enabled)
        d->suppressedThreads.erase(self);
    else
        d->suppressedThreads.insert(self);
    return wasEnabled;
}

std::uint64_t Logger::id() const
{
    return d->id;
}

std::uint32_t Logger::level() const
{
    return d->level.load();
}

void Logger::setLevel(std::uint32_t level)
{
    d->level.store(level);
}

} // namespace logging
} // namespace tools
} // namespace vexo
