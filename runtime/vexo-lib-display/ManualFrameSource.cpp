#include "vexo-lib-display/ManualFrameSource.h"

#include "vexo-core/StopWatch.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <algorithm>
#include <memory>

namespace vexo {
namespace core {

ManualFrameSource::ManualFrameSource(const FrameFormat& format)
    : currentFormat(format)
{
    currentStatus.connected = true;
}

FrameFormat ManualFrameSource::format() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return currentFormat;
}

bool ManualFrameSource::setFormat(const FrameFormat& format)
{
    std::lock_guard<std::mutex> lock(mutex);
    currentFormat = format;
    return true;
}

FrameSource::Status ManualFrameSource::status() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return currentStatus;
}

void ManualFrameSource::setStatus(const Status& status)
{
    std::lock_guard<std::mutex> lock(mutex);
    currentStatus = status;
}

bool ManualFrameSource::start()
{
    std::lock_guard<std::mutex> lock(mutex);
    cancelled = false;
    return true;
}

void ManualFrameSource::stop()
{
    cancel();
}

void ManualFrameSource::cancel()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        cancelled = true;
    }
    changed.notify_all();
}

void ManualFrameSource::pushFrame(Fill fill, int linesPerStep, std::uint32_t tag,
                                  std::uint32_t flags)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        queue.push_back({std::move(fill), std::max(linesPerStep, 0), tag, flags});
    }
    changed.notify_all();
}

void ManualFrameSource::releaseStep()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++stepsReleased;
    }
    changed.notify_all();
}

int ManualFrameSource::pendingFrames() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(queue.size());
}

std::uint64_t ManualFrameSource::deliveredFrames() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return delivered;
}

FrameSource::Delivery ManualFrameSource::waitForFrame()
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return cancelled || haveAnnounced || !queue.empty(); });
    // A frame already announced is delivered even if a stop comes now: the caller may
    // already have made room for it.
    if (haveAnnounced)
        return Delivery::Frame;
    if (cancelled)
        return Delivery::Cancelled;
    if (!haveAnnounced) {
        announced = std::move(queue.front());
        queue.pop_front();
        haveAnnounced = true;
    }
    return Delivery::Frame;
}

FrameSource::Delivery ManualFrameSource::deliverFrame(FrameBuffer* target, const Progress& progress)
{
    const Delivery waited = waitForFrame();
    if (waited != Delivery::Frame)
        return waited;
    Pushed frame;
    FrameFormat format;
    {
        std::lock_guard<std::mutex> lock(mutex);
        frame = std::move(announced);
        haveAnnounced = false;
        stepsReleased = 0;
        format = currentFormat;
    }

    // The fill writes the whole frame into a scratch buffer; it is then copied into the
    // target step by step, so that readers see finished lines only.
    std::unique_ptr<FrameBuffer> scratch(
        new FrameBuffer(format.width, format.height, format.bitsPerPixel, format.gray));
    frame.fill(*scratch);

    const int height = scratch->height();
    const int lineSamples = scratch->width() * scratch->channels();
    const int step = frame.linesPerStep > 0 ? frame.linesPerStep : std::max(height, 1);
    for (int first = 0, steps = 0; first < height; first += step, ++steps) {
        if (steps > 0 && frame.linesPerStep > 0) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [this, steps] { return cancelled || stepsReleased >= steps; });
            if (cancelled)
                return Delivery::Cancelled;
        }
        const int last = std::min(first + step, height);
        if (target) {
            for (int y = first; y < last; ++y)
                std::copy(scratch->line(y), scratch->line(y) + lineSamples, target->line(y));
            target->setLastValidPixel(scratch->width() - 1, last - 1);
            target->setTransferLength(format.packedBytes(last));
        }
        if (progress)
            progress(last);
    }
    if (target) {
        target->setTimestamp(StopWatch::nowMicroseconds());
        target->setTag(frame.tag);
        target->setFlags(frame.flags);
    }
    std::lock_guard<std::mutex> lock(mutex);
    ++delivered;
    return Delivery::Frame;
}

} // namespace core
} // namespace vexo
