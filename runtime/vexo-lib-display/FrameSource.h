#pragma once

#include "vexo-lib-display/FrameFormat.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vexo {
namespace core {

class FrameBuffer;

// Where a scene's frames come from: the built-in simulator, frames pushed by a host, or a
// camera back-end, a GStreamer pipeline or saved files. The scene calls format changes on
// the thread that steers it while nothing is acquired; start(), waitForFrame(),
// deliverFrame() and stop() on its acquisition thread; status(), problem() and cancel()
// from any thread.
class FrameSource
{
public:
    enum class Delivery {
        Frame, // a whole frame was delivered (or consumed, without a target)
        Cancelled, // stop() or cancel() ended the wait; a partial frame is to be discarded
        Failed, // the source is gone (disconnected); acquisition ends
        Ended, // the source has no more frames (a file or stream ended); acquisition ends
    };

    struct Status
    {
        bool connected = false; // a source is present (camera or simulator)
        bool clock = false; // the source runs: pixel clock present
        bool exsync = false; // frames are triggered by an external sync
        bool extrg = false; // frames are triggered by an external trigger
        // Frames the source itself lost since it was made (a camera's incomplete
        // transfers, frames it had no buffer for); a change is reported as an overflow.
        std::uint64_t framesLost = 0;
    };

    // Reports how many lines of the frame in progress are written; called on the
    // acquisition thread after the lines are visible through setLastValidPixel.
    using Progress = std::function<void(int linesWritten)>;

    virtual ~FrameSource() = default;

    virtual FrameFormat format() const = 0;
    // False when the source cannot deliver that format; the format is then unchanged.
    // Never called while acquiring.
    virtual bool setFormat(const FrameFormat& format) = 0;
    virtual Status status() const = 0;
    // The scene tells how many frames its ring holds, once it has made the ring, so that a
    // source with buffers of its own can size them to match. Not while acquiring.
    virtual void setRingCapacity(int capacity) { (void)capacity; }

    // Acquisition begins: timing restarts and cancel() no longer applies. False when the
    // source cannot deliver at all (a camera that is gone); problem() then says why, and
    // the scene leaves its stored frames alone and calls no stop().
    virtual bool start() = 0;
    // Why the source cannot deliver, in words for the user: the last start() failed, or a
    // wait returned Failed. Empty when nothing went wrong.
    virtual std::string problem() const { return {}; }
    // Acquisition ends; a waiting deliverFrame() returns Cancelled.
    virtual void stop() = 0;
    // Any thread: a waiting or later deliverFrame() returns Cancelled until start().
    virtual void cancel() = 0;

    // Waits until the next frame begins to arrive. The caller then finds a buffer for it
    // and calls deliverFrame(); it holds no buffer while it waits.
    virtual Delivery waitForFrame() = 0;
    // Writes the frame that waitForFrame() announced into target, a buffer of format():
    // pixels first, published line by line through FrameBuffer::setLastValidPixel (a slow
    // frame arrives over its frame time), then the time stamp, transfer length, tag and
    // flags. The frame index is the caller's. With a null target the frame is consumed
    // and discarded (the caller had no buffer for it).
    virtual Delivery deliverFrame(FrameBuffer* target, const Progress& progress) = 0;
};

} // namespace core
} // namespace vexo
