#pragma once

#include "vexo-core/Mutex.h"
#include "vexo-lib-display/FrameSource.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>

namespace vexo {
namespace core {

// A source whose frames are pushed by its owner: a host that produces images in software,
// or a test that wants every frame under its control. A pushed frame may be delivered in
// steps of a few lines, each step waiting for releaseStep(), so a caller can watch a frame
// arrive line by line.
class ManualFrameSource : public FrameSource
{
public:
    // Writes the pixels of one frame (the buffer has the source's format).
    using Fill = std::function<void(FrameBuffer& buffer)>;

    explicit ManualFrameSource(const FrameFormat& format);

    FrameFormat format() const override;
    bool setFormat(const FrameFormat& format) override;
    Status status() const override;
    bool start() override;
    void stop() override;
    void cancel() override;
    Delivery waitForFrame() override;
    Delivery deliverFrame(FrameBuffer* target, const Progress& progress) override;

    // Any thread. Queues a frame; with linesPerStep > 0 it arrives that many lines at a
    // time, each further step waiting for releaseStep().
    void pushFrame(Fill fill, int linesPerStep = 0, std::uint32_t tag = 0, std::uint32_t flags = 0);
    // Any thread: lets a stepped frame write its next lines.
    void releaseStep();
    // Any thread: what status() reports.
    void setStatus(const Status& status);
    // Frames pushed and not yet delivered.
    int pendingFrames() const;
    // Frames delivered so far, with or without a target.
    std::uint64_t deliveredFrames() const;

private:
    struct Pushed
    {
        Fill fill;
        int linesPerStep;
        std::uint32_t tag;
        std::uint32_t flags;
    };

    // Guards every field below: the owner pushes, releases and cancels from any thread
    // while the acquisition thread waits and delivers. The waits sleep on changed.
    mutable Mutex mutex;
    std::condition_variable changed;
    FrameFormat currentFormat VEXO_GUARDED_BY(mutex);
    Status currentStatus VEXO_GUARDED_BY(mutex);
    std::deque<Pushed> queue VEXO_GUARDED_BY(mutex);
    Pushed announced VEXO_GUARDED_BY(mutex); // taken from the queue by waitForFrame()
    bool haveAnnounced VEXO_GUARDED_BY(mutex) = false;
    int stepsReleased VEXO_GUARDED_BY(mutex) = 0;
    bool cancelled VEXO_GUARDED_BY(mutex) = false;
    std::uint64_t delivered VEXO_GUARDED_BY(mutex) = 0;
};

} // namespace core
} // namespace vexo
