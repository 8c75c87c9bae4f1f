#pragma once

#include <algorithm>

namespace vexo {
namespace core {

// How sample values become canvas brightness. Default is the plain scaling of the bit
// depth (the top 8 bits of the value); Manual maps minimum .. maximum linearly onto
// 0 .. 255, with values below going black and values above white; Auto does the same with
// the range between two percentiles of the shown frame. Colour frames use one range for all
// three values. Only the canvas changes: readouts and saved frames keep the raw values.
struct DisplayLevels
{
    enum class Mode { Default, Manual, Auto };

    // Sample values, minimum below maximum.
    struct Range
    {
        int minimum = 0;
        int maximum = 0;

        bool operator==(const Range& o) const { return minimum == o.minimum && maximum == o.maximum; }
        bool operator!=(const Range& o) const { return !(*this == o); }
    };

    static constexpr int maxValue = 65535;

    Mode mode = Mode::Default;
    int minimum = 0; // Manual
    int maximum = maxValue; // Manual
    // Manual and Auto: a position t in 0..1 within the range is shown as 255 * t^(1/gamma),
    // so a gamma above 1 brightens the middle of the range and 1 keeps it linear.
    double gamma = 1.0;
    double lowPercentile = 0.1; // Auto, percent of the samples
    double highPercentile = 99.9;

    static DisplayLevels manual(int minimum, int maximum, double gamma = 1.0)
    {
        DisplayLevels l;
        l.mode = Mode::Manual;
        l.minimum = minimum;
        l.maximum = maximum;
        l.gamma = gamma;
        return l;
    }

    static DisplayLevels automatic(double lowPercentile = 0.1, double highPercentile = 99.9)
    {
        DisplayLevels l;
        l.mode = Mode::Auto;
        l.lowPercentile = lowPercentile;
        l.highPercentile = highPercentile;
        return l;
    }

    // The range a Manual setting maps: within the 16-bit values and at least one wide.
    Range manualRange() const { return widened(minimum, maximum); }

    // The range Default shows from black to white: the whole bit depth.
    static Range defaultRange(int bitsPerPixel)
    {
        const int bits = std::clamp(bitsPerPixel, 1, 16);
        return {0, (1 << bits) - 1};
    }

    // minimum .. maximum clamped to the 16-bit values; an empty or reversed range is made
    // one wide from the minimum, so that the mapping never divides by zero.
    static Range widened(int minimum, int maximum)
    {
        const int low = std::clamp(minimum, 0, maxValue - 1);
        return {low, std::clamp(maximum, low + 1, maxValue)};
    }

    bool operator==(const DisplayLevels& o) const
    {
        return mode == o.mode && minimum == o.minimum && maximum == o.maximum && gamma == o.gamma
            && lowPercentile == o.lowPercentile && highPercentile == o.highPercentile;
    }
    bool operator!=(const DisplayLevels& o) const { return !(*this == o); }
};

} // namespace core
} // namespace vexo
