#pragma once

#include "vexo-lib-display/FrameSource.h"

#include <algorithm>
#include <cstdint>

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
    FramePublisher(FrameBuffer* target, const FrameSource::Progress& progress);

    // Lines [0, last) are written; transferred bytes of the frame have arrived.
    void linesWritten(int last, std::uint64_t transferred);
    // Writes and publishes the lines of a frame of format, step lines at a time (at least
    // one step, the whole frame when step <= 0), waiting before every step but the first.
    // False when a wait was cancelled: the lines so far stay published, the frame is not
    // finished.
    // waitForStep(steps) waits until step `steps` (1, 2, ...) may be written, false when
    // cancelled; write(target, first, last) writes lines [first, last). Taken as they come,
    // not as std::function, which would allocate for their captures every frame.
    template <typename WaitForStep, typename WriteLines>
    bool writeInSteps(const FrameFormat& format, int step, WaitForStep&& waitForStep, WriteLines&& write)
    {
        const int height = format.height;
        if (step <= 0)
            step = std::max(height, 1);
        for (int first = 0, steps = 0; first < height; first += step, ++steps) {
            if (steps > 0 && !waitForStep(steps))
                return false;
            const int last = std::min(first + step, height);
            if (target)
                write(*target, first, last);
            linesWritten(last, format.packedBytes(last));
        }
        return true;
    }
    // The frame is whole: its metadata follows the pixels.
    void finish(std::uint64_t timestamp, std::uint32_t tag, std::uint32_t flags);

private:
    // Both borrowed from deliverFrame(), which the publisher does not outlive.
    FrameBuffer* target;
    const FrameSource::Progress& progress;
};

} // namespace core
} // namespace vexo
