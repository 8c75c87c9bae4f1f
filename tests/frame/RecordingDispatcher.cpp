#include "FrameTestSupport.h"

#include "common-logging-dispatcher/LoggingDispatcher.h"

#include <map>
#include <mutex>
#include <tuple>

namespace {

// The dispatcher's entry points run on the client's threads, the test's functions on the
// test's: entriesLock guards everything below it.
std::mutex entriesLock;
std::vector<std::string> entries;
std::map<std::string, std::pair<std::uint64_t, std::uint32_t>> assigned;
void* attachedClient = nullptr;
LoggingDisconnectFunction disconnectCallback = nullptr;
LoggingSetLevelFunction setLevelCallback = nullptr;

// Runs f under entriesLock. The client's callbacks are called without it, as they may
// call back.
template <typename F>
auto locked(F f)
{
    std::lock_guard<std::mutex> lock(entriesLock);
    return f();
}

void registerLogger(const char* name, std::uint64_t* id, std::uint32_t* level)
{
    locked([&] {
        entries.push_back(std::string("register ") + name);
        std::tie(*id, *level) = assigned[name]; // a name not assigned gets (0, 0)
    });
}

void logMessage(std::uint64_t id, std::uint32_t level, const char* message, std::uint32_t value,
                std::uintptr_t pointerValue)
{
    recording_dispatcher::note("log " + std::to_string(id) + ' ' + std::to_string(level) + ' ' + message + ' '
                               + std::to_string(value) + ' ' + std::to_string(pointerValue));
}

void attach(void* client, LoggingDisconnectFunction disconnect, LoggingSetLevelFunction setLevel,
            LoggingRegisterLoggerFunction* outRegister, LoggingLogMessageFunction* outLog)
{
    locked([&] {
        entries.push_back("attach");
        attachedClient = client, disconnectCallback = disconnect, setLevelCallback = setLevel;
    });
    *outRegister = &registerLogger;
    *outLog = &logMessage;
}

void detach(void* client, const LoggingDispatcherDescriptor* self)
{
    locked([&] {
        const bool known = client == attachedClient && self && self->detach == &detach; // our descriptor
        entries.push_back(known ? "detach" : "detach from a stranger");
    });
}

} // namespace

extern "C" const LoggingDispatcherDescriptor logging_dispatcher_descriptor = {&attach, &detach};

namespace recording_dispatcher {

std::vector<std::string> journal() { return locked([] { return entries; }); }

void note(const std::string& text) { locked([&] { entries.push_back(text); }); }

void reset() { locked([] { entries.clear(), assigned.clear(); }); }

void assign(const std::string& name, std::uint64_t id, std::uint32_t level)
{
    locked([&] { assigned[name] = {id, level}; });
}

bool callSetLevel(std::uint64_t id, std::uint32_t level)
{
    const LoggingSetLevelFunction setLevel = locked([] { return setLevelCallback; });
    return setLevel && (setLevel(id, level), true);
}

bool callDisconnect()
{
    const LoggingDisconnectFunction disconnect = locked([] { return disconnectCallback; });
    return disconnect && (disconnect(), true);
}

} // namespace recording_dispatcher
