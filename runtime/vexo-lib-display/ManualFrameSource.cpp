#include "vexo-lib-display/ManualFrameSource.h"

#include "vexo-core/MutexLocker.h"
#include "vexo-core/StopWatch.h"
#include "vexo-lib-display/FramePublisher.h"
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
    MutexLocker lock(mutex);
    return currentFormat;
}

bool ManualFrameSource::setFormat(const FrameFormat& format)
{
    MutexLocker lock(mutex);
    currentFormat = format;
    return true;
}

FrameSource::Status ManualFrameSource::status() const
{
    MutexLocker lock(mutex);
    return currentStatus;
}

void ManualFrameSource::setStatus(const Status& status)
{
    MutexLocker lock(mutex);
    currentStatus = status;
}

bool ManualFrameSource::start()
{
    MutexLocker lock(mutex);
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
        MutexLocker lock(mutex);
        cancelled = true;
    }
    changed.notify_all();
}

void ManualFrameSource::pushFrame(Fill fill, int linesPerStep, std::uint32_t tag, std::uint32_t flags)
{
    {
        MutexLocker lock(mutex);
        queue.push_back({std::move(fill), std::max(linesPerStep, 0), tag, flags});
    }
    changed.notify_all();
}

void ManualFrameSource::releaseStep()
{
    {
        MutexLocker lock(mutex);
        ++stepsReleased;
    }
    changed.notify_all();
}

int ManualFrameSource::pendingFrames() const
{
    MutexLocker lock(mutex);
    return static_cast<int>(queue.size());
}

std::uint64_t ManualFrameSource::deliveredFrames() const
{
    MutexLocker lock(mutex);
    return delivered;
}

FrameSource::Delivery ManualFrameSource::waitForFrame()
{
    MutexLocker lock(mutex);
    while (!cancelled && !haveAnnounced && queue.empty())
        lock.wait(changed);
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
        MutexLocker lock(mutex);
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

    const int lineSamples = scratch->width() * scratch->channels();
    FramePublisher publisher(target, progress);
    const bool whole = publisher.writeInSteps(
        format, frame.linesPerStep,
        [this](int steps) {
            MutexLocker lock(mutex);
            while (!cancelled && stepsReleased < steps)
                lock.wait(changed);
            return !cancelled;
        },
        [&](FrameBuffer& buffer, int first, int last) {
            for (int y = first; y < last; ++y)
                std::copy(scratch->line(y), scratch->line(y) + lineSamples, buffer.line(y));
        });
    if (!whole)
        return Delivery::Cancelled;
    publisher.finish(StopWatch::nowMicroseconds(), frame.tag, frame.flags);
    MutexLocker lock(mutex);
    ++delivered;
    return Delivery::Frame;
}

} // namespace core
} // namespace vexo
