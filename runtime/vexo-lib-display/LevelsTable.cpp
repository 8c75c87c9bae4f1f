#include "vexo-lib-display/LevelsTable.h"

#include <cmath>

namespace vexo {
namespace core {

namespace {

constexpr int tableSize = 65536;

double usableGamma(double gamma)
{
    return gamma > 0.0 && std::isfinite(gamma) ? gamma : 1.0;
}

} // namespace

int LevelsTable::brightness(int value, DisplayLevels::Range range, double gamma)
{
    if (value <= range.minimum)
        return 0;
    if (value >= range.maximum)
        return 255;
    const std::int64_t above = value - range.minimum;
    const std::int64_t span = range.maximum - range.minimum;
    const double g = usableGamma(gamma);
    if (g == 1.0)
        return static_cast<int>((510 * above + span) / (2 * span));
    const double t = static_cast<double>(above) / static_cast<double>(span);
    return static_cast<int>(std::floor(255.0 * std::pow(t, 1.0 / g) + 0.5));
}

const std::uint32_t* LevelsTable::table(DisplayLevels::Range range, double gamma)
{
    const double g = usableGamma(gamma);
    if (words && range == builtRange && g == builtGamma)
        return words.get();
    if (!words)
        words = std::make_unique<std::uint32_t[]>(tableSize);
    for (int v = 0; v < tableSize; ++v) {
        const auto c = static_cast<std::uint32_t>(brightness(v, range, g));
        words[v] = 0xff000000u | c << 16 | c << 8 | c;
    }
    builtRange = range;
    builtGamma = g;
    ++buildCount;
    return words.get();
}

} // namespace core
} // namespace vexo
