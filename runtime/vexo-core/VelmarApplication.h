#pragma once

#include <cstdint>
#include <string>

namespace vexo {
namespace core {

// Process-wide configuration of the runtime, kept in an INI file. Entries are read from
// the file at each use by the display library, so a change made by the host, or by
// another process, takes effect at once. Any number of processes and threads may read
// and write at the same time: no completed write is lost, and a process killed in the
// middle of a save leaves the file as its last completed write left it. All functions
// are safe to call from any thread.
class VelmarApplication
{
public:
    VelmarApplication() = delete;

    static std::int64_t getConfigIntEntry(const std::string& key, std::int64_t defaultValue);

    // The returned reference stays valid for the life of the process: values are interned
    // and never freed, so a caller may keep it while another thread changes the entry.
    static const std::string& getConfigStringEntry(const std::string& key, const std::string& defaultValue);

    static void setConfigEntry(const std::string& key, const std::string& value);
    static void setConfigEntry(const std::string& key, std::int64_t value);

    // Forgets every entry; for hosts and tests that start from a clean configuration.
    static void clearConfig();

    // Why the configuration file cannot be used as written: "FILE: line N: why" for the
    // first line that cannot be read, or the system's reason when the file cannot be
    // read at all; empty when it reads cleanly or does not exist. The runtime itself stays
    // silent about such files (unreadable lines are skipped and kept); hosts may warn.
    static std::string configurationProblem();
};

} // namespace core
} // namespace vexo
