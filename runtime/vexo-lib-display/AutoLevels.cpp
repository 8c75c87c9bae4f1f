#include "vexo-lib-display/AutoLevels.h"

#include "vexo-lib-display/FrameBuffer.h"

#include <algorithm>
#include <cmath>

namespace vexo {
namespace core {

namespace {

// The value at rank (0-based) of the samples counted in histogram.
int valueAtRank(const std::vector<std::uint32_t>& histogram, std::uint64_t rank)
{
    std::uint64_t seen = 0;
    for (std::size_t v = 0; v < histogram.size(); ++v) {
        seen += histogram[v];
        if (seen > rank)
            return static_cast<int>(v);
    }
    return static_cast<int>(histogram.size() - 1);
}

} // namespace

bool AutoLevels::measure(const FrameBuffer& buffer, double lowPercentile, double highPercentile,
                         DisplayLevels::Range* range)
{
    int lastX = -1;
    int lastY = -1;
    buffer.lastValidPixel(&lastX, &lastY);
    const int width = buffer.width();
    const int height = std::min(buffer.height(), lastY + 1);
    if (width <= 0 || height <= 0)
        return false;
    histogram.resize(DisplayLevels::maxValue + 1);
    std::fill(histogram.begin(), histogram.end(), 0u);

    const int stepX = (width + gridSide - 1) / gridSide;
    const int stepY = (height + gridSide - 1) / gridSide;
    const int channels = buffer.channels();
    std::uint64_t count = 0;
    for (int y = 0; y < height; y += stepY) {
        // The last written line only up to its last written column.
        const int columns = y < lastY ? width : std::min(width, lastX + 1);
        const std::uint16_t* line = buffer.line(y);
        for (int x = 0; x < columns; x += stepX) {
            for (int c = 0; c < channels; ++c)
                ++histogram[line[static_cast<std::size_t>(x) * channels + c]];
            count += static_cast<std::uint64_t>(channels);
        }
    }
    if (count == 0)
        return false;

    const double last = static_cast<double>(count - 1);
    // NaN percentiles count as the ends of the range.
    const double low = std::isnan(lowPercentile) ? 0.0 : std::clamp(lowPercentile, 0.0, 100.0);
    const double high = std::isnan(highPercentile) ? 100.0 : std::clamp(highPercentile, low, 100.0);
    const auto lowRank = static_cast<std::uint64_t>(std::floor(last * low / 100.0));
    const auto highRank = std::min(count - 1, static_cast<std::uint64_t>(std::ceil(last * high / 100.0)));
    *range = DisplayLevels::widened(valueAtRank(histogram, lowRank), valueAtRank(histogram, highRank));
    return true;
}

} // namespace core
} // namespace vexo
