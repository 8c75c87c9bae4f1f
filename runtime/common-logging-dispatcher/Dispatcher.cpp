#include "Dispatcher.h"

#include "vexo-core/MutexLocker.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vexo {
namespace logging_dispatcher {

namespace {

const char* const levelNames[] = {"trace", "debug", "info", "notice", "warning", "error", "critical", "fatal"};

} // namespace

Dispatcher& Dispatcher::instance()
{
    // Never destroyed: a client may still log from its own static destructors.
    static Dispatcher* const dispatcher = new Dispatcher();
    return *dispatcher;
}

void Dispatcher::attach(void* client)
{
    core::MutexLocker lock(mutex);
    if (clients.empty()) {
        rules = LevelRules(std::getenv("VEXO_LOG_LEVELS"));
        for (Logger& logger : loggers)
            logger.level = rules.levelFor(logger.name);
        openOutput();
    }
    clients.push_back(client);
}

void Dispatcher::detach(void* client)
{
    core::MutexLocker lock(mutex);
    for (auto it = clients.begin(); it != clients.end(); ++it) {
        if (*it == client) {
            clients.erase(it);
            break;
        }
    }
    if (clients.empty())
        closeOutput();
}

void Dispatcher::registerLogger(const char* name, std::uint64_t* id, std::uint32_t* level)
{
    const std::string key = name ? name : "";
    core::MutexLocker lock(mutex);
    auto found = ids.find(key);
    if (found == ids.end()) {
        loggers.push_back({key, rules.levelFor(key)});
        found = ids.emplace(key, loggers.size()).first;
    }
    *id = found->second;
    *level = loggers[found->second - 1].level;
}

void Dispatcher::logMessage(std::uint64_t id, std::uint32_t level, const char* message)
{
    std::timespec now{};
    std::timespec_get(&now, TIME_UTC);

    core::MutexLocker lock(mutex);
    if (!output)
        return; // no client attached
    // The client tests the level before it builds a message; testing again here keeps
    // the documented rule true for clients that do not.
    std::string name;
    if (id >= 1 && id <= loggers.size()) {
        const Logger& logger = loggers[id - 1];
        if (level < logger.level)
            return;
        name = logger.name;
    } else {
        name = "#" + std::to_string(id);
    }
    const std::string line = formatLine(now, level, name, message);
    std::fwrite(line.data(), 1, line.size(), output);
    std::fflush(output);
}

std::string Dispatcher::formatLine(const std::timespec& time, std::uint32_t level, const std::string& loggerName,
                                   const char* message)
{
    std::tm local{};
    const std::time_t seconds = time.tv_sec;
    localtime_r(&seconds, &local);
    char stamp[64];
    const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(stamp + length, sizeof stamp - length, ".%03ld", static_cast<long>(time.tv_nsec / 1000000));

    std::string line(stamp);
    line += " [";
    line += std::to_string(level);
    if (level < sizeof levelNames / sizeof levelNames[0]) {
        line += ' ';
        line += levelNames[level];
    }
    line += "] ";
    line += loggerName;
    line += ": ";
    for (const char* c = message ? message : ""; *c; ++c) {
        if (*c == '\n')
            line += "\\n";
        else if (*c == '\r')
            line += "\\r";
        else
            line += *c;
    }
    line += '\n';
    return line;
}

void Dispatcher::openOutput()
{
    output = stderr;
    ownsOutput = false;
    const char* path = std::getenv("VEXO_LOG_FILE");
    if (!path || !*path)
        return;
    if (std::FILE* file = std::fopen(path, "a")) {
        output = file;
        ownsOutput = true;
    } else {
        std::fprintf(stderr, "common-logging-dispatcher: cannot open %s (%s), logging to standard error\n", path,
                     std::strerror(errno));
    }
}

void Dispatcher::closeOutput()
{
    if (ownsOutput && output)
        std::fclose(output);
    output = nullptr;
    ownsOutput = false;
}

} // namespace logging_dispatcher
} // namespace vexo
