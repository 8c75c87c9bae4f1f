#pragma once

#include "vexo-lib-display/FrameSource.h"

#include <cstdint>
#include <functional>

namespace vexo {
namespace core {

class FrameBuffer;

// How every source ends deliverFrame(): lines made visible through setLastValidPixel and
// reported to the progress callback as they are written, then the time stamp, tag and
// flags. Readers on other threads rely on that order (pixels before the published line,
// metadata once the frame is whole), so it lives in one place. A null target only reports
// progress: the frame is consumed without a buffer. Acquisition thread only.
class FramePublisher
{
public:
    // Writes lines [first, last) of the target.
    using WriteLines = std::function<void(FrameBuffer& target, int first, int last)>;
    // Waits until step `step` (1, 2, ...) may be written; false when cancelled.
    using WaitForStep = std::function<bool(int step)>;

    FramePublisher(FrameBuffer* target, const FrameSource::Progress& progress);

    // Lines [0, last) are written; transferred bytes of the frame have arrived.
    void linesWritten(int last, std::uint64_t transferred);
    // Writes and publishes the lines of a frame of format, step lines at a time (at least
    // one step, the whole frame when step <= 0), waiting before every step but the first.
    // False when a wait was cancelled: the lines so far stay published, the frame is not
    // finished.
    bool writeInSteps(const FrameFormat& format, int step, const WaitForStep& waitForStep, const WriteLines& write);
    // The frame is whole: its metadata follows the pixels.
    void finish(std::uint64_t timestamp, std::uint32_t tag, std::uint32_t flags);

private:
    // Both borrowed from deliverFrame(), which the publisher does not outlive.
    FrameBuffer* target;
    const FrameSource::Progress& progress;
};

} // namespace core
} // namespace vexo
