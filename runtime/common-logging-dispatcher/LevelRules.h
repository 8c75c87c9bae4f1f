#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexo {
namespace logging_dispatcher {

// The per-logger levels of a site, written as comma-separated rules "pattern=level":
// a pattern is a logger name ("guard.library"), a name prefix ending in ".*"
// ("vexo.core.*" covers "vexo.core.X" and "vexo.core.X.Y") or "*" for every logger. The
// exact name wins over prefixes, a longer prefix over a shorter one, and any prefix over
// "*"; between equally specific rules the later one wins. Blanks around names and
// numbers are ignored; a rule that does not parse is skipped.
class LevelRules
{
public:
    static constexpr std::uint32_t defaultLevel = 4; // warning

    LevelRules() = default;
    explicit LevelRules(const char* text); // null or empty: no rules

    std::uint32_t levelFor(const std::string& name) const;
    std::size_t size() const;

private:
    struct Rule
    {
        std::string pattern; // a name, a prefix with its trailing '.', or empty for "*"
        bool prefix;
        std::uint32_t level;
    };
    std::vector<Rule> rules;
};

} // namespace logging_dispatcher
} // namespace vexo
