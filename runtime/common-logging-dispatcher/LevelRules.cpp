#include "LevelRules.h"

#include <cerrno>
#include <cstdlib>

namespace vexo {
namespace logging_dispatcher {

namespace {

std::string trimmed(const std::string& text)
{
    const std::string::size_type first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    const std::string::size_type last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool parseLevel(const std::string& text, std::uint32_t* level)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (errno != 0 || value > 0xffffffffUL)
        return false;
    *level = static_cast<std::uint32_t>(value);
    return true;
}

} // namespace

LevelRules::LevelRules(const char* text)
{
    if (!text)
        return;
    const std::string all(text);
    std::string::size_type start = 0;
    while (start <= all.size()) {
        std::string::size_type end = all.find(',', start);
        if (end == std::string::npos)
            end = all.size();
        const std::string entry = all.substr(start, end - start);
        start = end + 1;

        const std::string::size_type equals = entry.find('=');
        if (equals == std::string::npos)
            continue;
        std::string pattern = trimmed(entry.substr(0, equals));
        std::uint32_t level = 0;
        if (pattern.empty() || !parseLevel(trimmed(entry.substr(equals + 1)), &level))
            continue;

        if (pattern == "*") {
            rules.push_back({std::string(), true, level});
        } else if (pattern.size() > 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0) {
            pattern.pop_back(); // keep the '.': "a.*" must not cover "ab"
            rules.push_back({pattern, true, level});
        } else if (pattern.find('*') == std::string::npos) {
            rules.push_back({pattern, false, level});
        }
    }
}

std::uint32_t LevelRules::levelFor(const std::string& name) const
{
    // When two rules are equally specific the later one wins, as in most configuration
    // files: a site appends to the variable to override.
    const Rule* exact = nullptr;
    const Rule* best = nullptr;
    for (const Rule& rule : rules) {
        if (!rule.prefix) {
            if (rule.pattern == name)
                exact = &rule;
        } else if (name.compare(0, rule.pattern.size(), rule.pattern) == 0
                   && (!best || rule.pattern.size() >= best->pattern.size())) {
            best = &rule;
        }
    }
    if (exact)
        return exact->level;
    return best ? best->level : defaultLevel;
}

std::size_t LevelRules::size() const
{
    return rules.size();
}

} // namespace logging_dispatcher
} // namespace vexo
