#pragma once

#include <cstdint>
#include <string>

namespace vexo {
namespace core {

// Process-wide configuration of the runtime. Entries are read at each use by the display
// library, so a change made by the host takes effect at once. All functions are safe to
// call from any thread.
class VelmarApplication
{
public:
    VelmarApplication() = delete;

    static std::int64_t getConfigIntEntry(const std::string& key, std::int64_t defaultValue);

    // The returned reference stays valid for the life of the process: values are interned
    // and never freed, so a caller may keep it while another thread changes the entry.
    static const std::string& getConfigStringEntry(const std::string& key,
                                                   const std::string& defaultValue);

    static void setConfigEntry(const std::string& key, const std::string& value);
    static void setConfigEntry(const std::string& key, std::int64_t value);

    // Forgets every entry; for hosts and tests that start from a clean configuration.
    static void clearConfig();
};

} // namespace core
} // namespace vexo
