#include "RecordingDispatcher.h"

#include <map>
#include <mutex>

namespace {

struct State
{
    // Guards every field; the callbacks are called without it, as they may call back.
    std::mutex mutex;
    std::vector<std::string> journal;
    std::map<std::string, std::pair<std::uint64_t, std::uint32_t>> assigned;
    std::uint64_t nextId = 1;
    void* client = nullptr;
    LoggingDisconnectFunction disconnect = nullptr;
    LoggingSetLevelFunction setLevel = nullptr;
};

State& state()
{
    static State s;
    return s;
}

void registerLogger(const char* name, std::uint64_t* id, std::uint32_t* level)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.journal.push_back(std::string("register ") + name);
    auto found = s.assigned.find(name);
    if (found == s.assigned.end())
        found = s.assigned.emplace(name, std::make_pair(s.nextId++, 0u)).first;
    *id = found->second.first;
    *level = found->second.second;
}

void logMessage(std::uint64_t id, std::uint32_t level, const char* message, std::uint32_t value,
                std::uintptr_t pointerValue)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.journal.push_back("log " + std::to_string(id) + ' ' + std::to_string(level) + ' ' + message
                        + ' ' + std::to_string(value) + ' ' + std::to_string(pointerValue));
}

void attach(void* client, LoggingDisconnectFunction disconnect, LoggingSetLevelFunction setLevel,
            LoggingRegisterLoggerFunction* outRegister, LoggingLogMessageFunction* outLog)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.journal.push_back("attach");
    s.client = client;
    s.disconnect = disconnect;
    s.setLevel = setLevel;
    *outRegister = &registerLogger;
    *outLog = &logMessage;
}

void detach(void* client, const LoggingDispatcherDescriptor* self);

} // namespace

extern "C" const LoggingDispatcherDescriptor logging_dispatcher_descriptor = {&attach, &detach};

namespace {

void detach(void* client, const LoggingDispatcherDescriptor* self)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const bool known = client == s.client && self == &logging_dispatcher_descriptor;
    s.journal.push_back(known ? "detach" : "detach from a stranger");
    s.client = nullptr;
    s.disconnect = nullptr;
    s.setLevel = nullptr;
}

} // namespace

namespace recording_dispatcher {

std::vector<std::string> journal()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.journal;
}

void note(const std::string& text)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.journal.push_back(text);
}

void reset()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.journal.clear();
    s.assigned.clear();
    s.nextId = 1;
}

void forgetClient()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.client = nullptr;
    s.disconnect = nullptr;
    s.setLevel = nullptr;
}

void assign(const std::string& name, std::uint64_t id, std::uint32_t level)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.assigned[name] = {id, level};
}

bool callSetLevel(std::uint64_t id, std::uint32_t level)
{
    LoggingSetLevelFunction setLevel = nullptr;
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        setLevel = s.setLevel;
    }
    if (setLevel)
        setLevel(id, level);
    return setLevel != nullptr;
}

bool callDisconnect()
{
    LoggingDisconnectFunction disconnect = nullptr;
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        disconnect = s.disconnect;
    }
    if (disconnect)
        disconnect();
    return disconnect != nullptr;
}

void* client()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.client;
}

const LoggingDispatcherDescriptor* descriptor()
{
    return &logging_dispatcher_descriptor;
}

} // namespace recording_dispatcher
