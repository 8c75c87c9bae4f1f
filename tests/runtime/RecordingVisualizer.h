#pragma once

// A visualizer for runtime tests: records every callback with the thread it came on, and
// hands frames back at once (or keeps the newest, like a window showing it).

#include "vexo-core/StopWatch.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/DisplaySceneVisualizer.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class RecordingVisualizer : public vexo::core::DisplaySceneVisualizer
{
public:
    struct Call
    {
        Call(std::string n = {}) : name(std::move(n)) {}
        std::string name;
        std::thread::id thread;
        std::int64_t frameIndex = -1; // buffer updates
        bool flag = false;            // status: overflow; sources: connected
        int percent = 0;
    };

    // Keep the newest frame, as a window keeps what it shows.
    bool keepNewestFrame = false;
    // Called on the scene's thread with each buffer update.
    std::function<void(const boost::shared_ptr<vexo::core::FrameBuffer>&)> onBuffer;

    ~RecordingVisualizer() override
    {
        if (auto s = scene())
            s->detachVisualizer(this);
    }

    std::vector<Call> calls() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return recorded;
    }
    int count(const std::string& name) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        int n = 0;
        for (const Call& c : recorded)
            n += c.name == name ? 1 : 0;
        return n;
    }
    boost::shared_ptr<vexo::core::DisplaySceneFrame> newestFrame() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return kept;
    }
    bool anyCallOn(std::thread::id thread, const std::string& name) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Call& c : recorded)
            if (c.name == name && c.thread == thread)
                return true;
        return false;
    }

    void notifySceneAttached() override { record(Call("attached")); }
    void notifySceneFrameChanged(boost::shared_ptr<vexo::core::DisplaySceneFrame> frame,
                                 double) override
    {
        record(Call("frame"));
        if (keepNewestFrame) {
            std::lock_guard<std::mutex> lock(mutex);
            kept = frame;
        }
        freeSceneFrame(frame);
    }
    void notifyGrabbingStarted() override { record(Call("started")); }
    void notifyGrabbingStopped() override { record(Call("stopped")); }
    void notifyBufferUpdated(boost::shared_ptr<vexo::core::FrameBuffer> buffer) override
    {
        Call c("buffer");
        c.frameIndex = buffer->frameIndex();
        record(c);
        if (onBuffer)
            onBuffer(buffer);
    }
    void notifyCameraStatusUpdate(bool, bool, bool, bool, bool, bool overflow, int,
                                  int percent) override
    {
        Call c("status");
        c.flag = overflow;
        c.percent = percent;
        record(c);
    }
    void notifySourcesConnected(bool connected) override
    {
        Call c("sources");
        c.flag = connected;
        record(c);
    }
    void notifyFrameBuffersInvalidated() override { record(Call("invalidated")); }
    void notifyFrameBuffersAdded() override { record(Call("added")); }
    void requestTimedInterrupt(boost::shared_ptr<vexo::core::StopWatch>, std::uint64_t) override
    {
        record(Call("interrupt"));
        // No event loop here: wake the scene at once; it renders when it is woken.
        if (auto s = scene())
            s->timerInterrupt();
    }

private:
    void record(Call c)
    {
        c.thread = std::this_thread::get_id();
        std::lock_guard<std::mutex> lock(mutex);
        recorded.push_back(c);
    }

    mutable std::mutex mutex; // guards recorded and kept
    std::vector<Call> recorded;
    boost::shared_ptr<vexo::core::DisplaySceneFrame> kept;
};
