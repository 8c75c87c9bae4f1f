#include "frame/Logging.h"

#include "frame/DynamicLibrary.h"
#include "frame/InstallationDirectory.h"
#include "frame/Logger.h"
#include "frame/ReadWriteLock.h"
#include "frame/ReadWriteLockGuard.h"

#include "common-logging-dispatcher/LoggingDispatcher.h"

#include <atomic>
#include <map>

namespace vexo {
namespace tools {
namespace logging {

using vexo::templates::platform::ReadWriteLock;
using vexo::templates::platform::ReadWriteLockGuard;

struct Logging::D
{
    // Level 7 is above every level in use, so callers that test isEnabled() first never
    // log through it: deliberate, kept for compatibility with the fixed surface.
    Logger* defaultLogger = new Logger(0, 7);

    // Written once while attaching and read by every message without a lock: a
    // disconnect racing with a message only decides whether that message goes out.
    std::atomic<LoggingRegisterLoggerFunction> registerLogger{nullptr};
    std::atomic<LoggingLogMessageFunction> logMessage{nullptr};
    std::atomic<const LoggingDispatcherDescriptor*> dispatcher{nullptr};

    // loggersLock guards loggers: written when a logger is created, read for the
    // dispatcher's level changes.
    ReadWriteLock loggersLock;
    std::map<std::uint64_t, Logger*> loggers;

    DynamicLibrary* dispatcherLibrary = nullptr;
};

Logging::Logging()
    : d(new D)
{
}

Logging::~Logging()
{
    {
        // Under the lock, so a level change arriving meanwhile finds no logger.
        ReadWriteLockGuard guard(&d->loggersLock, ReadWriteLockGuard::WriteAccess);
        for (auto& entry : d->loggers)
            delete entry.second;
        d->loggers.clear();
    }
    if (const LoggingDispatcherDescriptor* dispatcher = d->dispatcher.exchange(nullptr))
        dispatcher->detach(this, dispatcher);
    // Does not unload the library (see loadInstalledLibrary).
    delete d->dispatcherLibrary;
    delete d->defaultLogger;
    delete d;
}

void Logging::afterCreate()
{
    DynamicLibrary* library = loadInstalledLibrary("common-logging-dispatcher", nullptr);
    if (!library)
        return;
    auto* dispatcher =
        static_cast<const LoggingDispatcherDescriptor*>(library->symbol(LOGGING_DISPATCHER_DESCRIPTOR_SYMBOL));
    if (!dispatcher) {
        delete library;
        return;
    }
    d->dispatcherLibrary = library;
    d->dispatcher = dispatcher;

    LoggingRegisterLoggerFunction registerLogger = nullptr;
    LoggingLogMessageFunction logMessage = nullptr;
    dispatcher->attach(this, &Logging::disconnectCallback, &Logging::setLevelCallback, &registerLogger, &logMessage);
    d->registerLogger = registerLogger;
    d->logMessage = logMessage;
}

Logger* Logging::getLogger(const char* name)
{
    Logging* self = instance();
    const LoggingRegisterLoggerFunction registerLogger = self->d->registerLogger.load();
    if (!self->d->dispatcher.load() || !registerLogger)
        return self->d->defaultLogger;

    std::uint64_t id = 0;
    std::uint32_t level = 0;
    registerLogger(name, &id, &level);

    ReadWriteLockGuard guard(&self->d->loggersLock, ReadWriteLockGuard::WriteAccess);
    Logger*& logger = self->d->loggers[id];
    if (!logger)
        logger = new Logger(id, level);
    return logger;
}

void Logging::dispatchMessage(std::uint64_t id, std::uint32_t level, const char* message, std::uint32_t a,
                              std::uintptr_t b)
{
    const LoggingLogMessageFunction logMessage = d->logMessage.load();
    if (d->dispatcher.load() && logMessage)
        logMessage(id, level, message, a, b);
}

bool Logging::isAttached() const
{
    return d->dispatcher.load() != nullptr;
}

void Logging::disconnectCallback()
{
    // The slot rather than instance(): a late callback must not build a new singleton.
    if (auto* self = static_cast<Logging*>(instanceSlot_.load()))
        self->d->dispatcher = nullptr;
}

void Logging::setLevelCallback(std::uint64_t id, std::uint32_t level)
{
    auto* self = static_cast<Logging*>(instanceSlot_.load());
    if (!self)
        return;
    ReadWriteLockGuard guard(&self->d->loggersLock, ReadWriteLockGuard::ReadAccess);
    const auto found = self->d->loggers.find(id);
    if (found != self->d->loggers.end())
        found->second->setLevel(level);
}

} // namespace logging
} // namespace tools
} // namespace vexo
