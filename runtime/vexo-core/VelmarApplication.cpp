#include "vexo-core/VelmarApplication.h"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>

namespace vexo {
namespace core {

namespace {

struct ConfigStore
{
    // Guards both containers; held only for map operations, never across calls out.
    std::mutex mutex;
    std::map<std::string, std::string> entries;
    // Every string value ever handed out by reference; std::set nodes never move.
    std::set<std::string> interned;
};

ConfigStore& store()
{
    static ConfigStore instance;
    return instance;
}

} // namespace

std::int64_t VelmarApplication::getConfigIntEntry(const std::string& key, std::int64_t defaultValue)
{
    ConfigStore& s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto it = s.entries.find(key);
    if (it == s.entries.end() || it->second.empty())
        return defaultValue;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(it->second.c_str(), &end, 0);
    if (errno != 0 || end == it->second.c_str() || *end != '\0')
        return defaultValue;
    return value;
}

const std::string& VelmarApplication::getConfigStringEntry(const std::string& key,
                                                           const std::string& defaultValue)
{
    ConfigStore& s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto it = s.entries.find(key);
    const std::string& value = it == s.entries.end() ? defaultValue : it->second;
    return *s.interned.insert(value).first;
}

void VelmarApplication::setConfigEntry(const std::string& key, const std::string& value)
{
    ConfigStore& s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.entries[key] = value;
}

void VelmarApplication::setConfigEntry(const std::string& key, std::int64_t value)
{
    setConfigEntry(key, std::to_string(value));
}

void VelmarApplication::clearConfig()
{
    ConfigStore& s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.entries.clear();
}

} // namespace core
} // namespace vexo
