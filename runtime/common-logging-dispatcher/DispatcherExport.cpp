// The one export of the library: the descriptor table of the dispatcher protocol.

#include "Dispatcher.h"
#include "LoggingDispatcher.h"

namespace {

using vexo::logging_dispatcher::Dispatcher;

void registerLogger(const char* name, std::uint64_t* id, std::uint32_t* level)
{
    Dispatcher::instance().registerLogger(name, id, level);
}

// The last two values mean nothing to this dispatcher.
void logMessage(std::uint64_t id, std::uint32_t level, const char* message, std::uint32_t, std::uintptr_t)
{
    Dispatcher::instance().logMessage(id, level, message);
}

// Levels are fixed when a logger registers and this dispatcher never withdraws, so it
// keeps neither of the client's callbacks.
void attach(void* client, LoggingDisconnectFunction, LoggingSetLevelFunction,
            LoggingRegisterLoggerFunction* outRegister, LoggingLogMessageFunction* outLog)
{
    *outRegister = &registerLogger;
    *outLog = &logMessage;
    Dispatcher::instance().attach(client);
}

void detach(void* client, const LoggingDispatcherDescriptor*)
{
    Dispatcher::instance().detach(client);
}

} // namespace

extern "C" __attribute__((visibility("default")))
const LoggingDispatcherDescriptor logging_dispatcher_descriptor = {&attach, &detach};
