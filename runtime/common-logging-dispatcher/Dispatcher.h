#pragma once

#include "LevelRules.h"

#include "vexo-core/Mutex.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace vexo {
namespace logging_dispatcher {

// The state behind the exported descriptor: the logger names and their ids, the levels
// and the output. One per process; every member may be called from any thread.
//
// The configuration is read from the environment when the first client attaches (again
// after all clients have detached):
//   VEXO_LOG_LEVELS  per-logger levels, see LevelRules (default level 4, warning);
//   VEXO_LOG_FILE    file the lines are appended to; standard error when unset, empty or
//                    not writable.
// Each message becomes one line: local time with milliseconds, the level as number and
// name, the logger name and the message, e.g.
//   2024-03-05 14:07:31.042 [2 info] guard.library: thread-id=42|LIBRARY INIT: ...
// Line breaks inside a message are written as "\n" so that a message stays one line.
class Dispatcher
{
public:
    static Dispatcher& instance();

    void attach(void* client);
    void detach(void* client);
    void registerLogger(const char* name, std::uint64_t* id, std::uint32_t* level);
    void logMessage(std::uint64_t id, std::uint32_t level, const char* message);

    static std::string formatLine(const std::timespec& time, std::uint32_t level, const std::string& loggerName,
                                  const char* message);

private:
    Dispatcher() = default;
    void openOutput() VEXO_REQUIRES(mutex);
    void closeOutput() VEXO_REQUIRES(mutex);

    struct Logger
    {
        std::string name;
        std::uint32_t level;
    };

    // Guards everything below, and the writes to output so that lines never interleave:
    // clients attach, register and log from any thread.
    core::Mutex mutex;
    std::vector<void*> clients VEXO_GUARDED_BY(mutex);
    LevelRules rules VEXO_GUARDED_BY(mutex);
    // Ids are 1, 2, ...; 0 is the clients' own.
    std::map<std::string, std::uint64_t> ids VEXO_GUARDED_BY(mutex);
    std::vector<Logger> loggers VEXO_GUARDED_BY(mutex); // loggers[id - 1]
    // Null while no client is attached.
    std::FILE* output VEXO_GUARDED_BY(mutex) = nullptr;
    bool ownsOutput VEXO_GUARDED_BY(mutex) = false;
};

} // namespace logging_dispatcher
} // namespace vexo
