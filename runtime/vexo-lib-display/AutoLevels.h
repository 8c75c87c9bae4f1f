#pragma once

// The range of DisplayLevels::Mode::Auto, measured on a frame. Internal to the runtime.

#include "vexo-lib-display/DisplayLevels.h"

#include <cstdint>
#include <vector>

namespace vexo {
namespace core {

class FrameBuffer;

// Percentiles of a frame's samples, taken from a fixed grid of at most gridSide x gridSide
// written pixels (every value of a colour pixel counts), so that a measurement costs the
// same on any frame size. The histogram is allocated on the first measurement and reused:
// one instance per render thread, used only there.
class AutoLevels
{
public:
    static constexpr int gridSide = 256;

    // The sample values at the low and high percentiles (in percent, clamped to 0..100):
    // of the N samples sorted, those at ranks floor((N - 1) * low / 100) and
    // ceil((N - 1) * high / 100); a range of one value is widened by one. False when the
    // buffer has no written pixel.
    bool measure(const FrameBuffer& buffer, double lowPercentile, double highPercentile, DisplayLevels::Range* range);

private:
    std::vector<std::uint32_t> histogram;
};

} // namespace core
} // namespace vexo
