#include "vexo-lib-display/FramePublisher.h"

#include "vexo-lib-display/FrameBuffer.h"

#include <algorithm>

namespace vexo {
namespace core {

FramePublisher::FramePublisher(FrameBuffer* target, const FrameSource::Progress& progress)
    : target(target)
    , progress(progress)
{
}

void FramePublisher::linesWritten(int last, std::uint64_t transferred)
{
    if (target) {
        target->setLastValidPixel(target->width() - 1, last - 1);
        target->setTransferLength(transferred);
    }
    if (progress)
        progress(last);
}

void FramePublisher::finish(std::uint64_t timestamp, std::uint32_t tag, std::uint32_t flags)
{
    if (!target)
        return;
    target->setTimestamp(timestamp);
    target->setTag(tag);
    target->setFlags(flags);
}

} // namespace core
} // namespace vexo
