#include "frame/Logging.h"

#include "frame/Logger.h"

namespace vexo {
namespace tools {
namespace logging {

struct Logging::D
{
    Logger* defaultLogger = new Logger(0, 7);
};

Logging::Logging()
    : d(new D)
{
}

Logging::~Logging()
{
    delete d->defaultLogger;
    delete d;
}

Logger* Logging::getLogger(const char* name)
{
    (void)name;
    // No dispatcher is attached: every name shares the default logger.
    return instance()->d->defaultLogger;
}

void Logging::dispatchMessage(std::uint64_t, std::uint32_t, const char*, std::uint32_t,
                              std::uintptr_t)
{
    // Without a dispatcher messages are dropped.
}

} // namespace logging
} // namespace tools
} // namespace vexo
