#include "FrameTestSupport.h"

#include "common-logging-dispatcher/LoggingDispatcher.h"

#include <map>
#include <mutex>
#include <tuple>

namespace {

struct State
{
    std::mutex mutex; // guards every other field
    std::vector<std::string> journal;
    std::map<std::string, std::pair<std::uint64_t, std::uint32_t>> assigned;
    std::uint64_t nextId = 1;
    void* client = nullptr;
    LoggingDisconnectFunction disconnect = nullptr;
    LoggingSetLevelFunction setLevel = nullptr;

    void forgetClient() { client = nullptr, disconnect = nullptr, setLevel = nullptr; }
};

State theState;

// Runs f on the state under its mutex. The client's callbacks are called without it, as
// they may call back.
template <typename F>
auto locked(F f)
{
    std::lock_guard<std::mutex> lock(theState.mutex);
    return f(theState);
}

void registerLogger(const char* name, std::uint64_t* id, std::uint32_t* level)
{
    locked([&](State& s) {
        s.journal.push_back(std::string("register ") + name);
        const auto found = s.assigned.emplace(name, std::make_pair(s.nextId, 0u)); // a new name takes the next id
        s.nextId += found.second;
        std::tie(*id, *level) = found.first->second;
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
    locked([&](State& s) {
        s.journal.push_back("attach");
        s.client = client, s.disconnect = disconnect, s.setLevel = setLevel;
    });
    *outRegister = &registerLogger;
    *outLog = &logMessage;
}

void detach(void* client, const LoggingDispatcherDescriptor* self)
{
    locked([&](State& s) {
        const bool known = client == s.client && self && self->detach == &detach; // our descriptor
        s.journal.push_back(known ? "detach" : "detach from a stranger");
        s.forgetClient();
    });
}

} // namespace

extern "C" const LoggingDispatcherDescriptor logging_dispatcher_descriptor = {&attach, &detach};

namespace recording_dispatcher {

std::vector<std::string> journal() { return locked([](State& s) { return s.journal; }); }

void note(const std::string& text) { locked([&](State& s) { s.journal.push_back(text); }); }

void reset() { locked([](State& s) { s.journal.clear(), s.assigned.clear(), s.nextId = 1; }); }

void forgetClient() { locked([](State& s) { s.forgetClient(); }); }

void assign(const std::string& name, std::uint64_t id, std::uint32_t level)
{
    locked([&](State& s) { s.assigned[name] = {id, level}; });
}

bool callSetLevel(std::uint64_t id, std::uint32_t level)
{
    const LoggingSetLevelFunction setLevel = locked([](State& s) { return s.setLevel; });
    return setLevel && (setLevel(id, level), true);
}

bool callDisconnect()
{
    const LoggingDisconnectFunction disconnect = locked([](State& s) { return s.disconnect; });
    return disconnect && (disconnect(), true);
}

void* client() { return locked([](State& s) { return s.client; }); }

} // namespace recording_dispatcher
