#pragma once

#include "vexo-core/Mutex.h"

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <cstdint>

namespace vexo {
namespace core {

class DisplayScene;
class DisplaySceneFrame;
class FrameBuffer;
class StopWatch;

// What a display scene talks to. The scene attaches a visualizer on the GUI thread and then
// calls it back, mostly from its own threads; see each callback for its thread.
class DisplaySceneVisualizer
{
public:
    DisplaySceneVisualizer();
    // Detaches from a scene that is still attached (a safety net: owners should detach
    // before deleting, because a derived part is gone by the time this runs).
    virtual ~DisplaySceneVisualizer();

    DisplaySceneVisualizer(const DisplaySceneVisualizer&) = delete;
    DisplaySceneVisualizer& operator=(const DisplaySceneVisualizer&) = delete;

    // The attached scene, empty while none. Any thread.
    boost::shared_ptr<DisplayScene> scene() const VEXO_EXCLUDES(sceneMutex);

    // Hands a shown or skipped frame back to the scene, which reuses its canvas. GUI thread.
    void freeSceneFrame(boost::shared_ptr<DisplaySceneFrame> frame);

    // GUI thread, at the end of the attachment.
    virtual void notifySceneAttached() = 0;
    // Scene threads: a newly rendered frame and the achieved render rate.
    virtual void notifySceneFrameChanged(boost::shared_ptr<DisplaySceneFrame> frame, double renderFps) = 0;
    // Scene threads.
    virtual void notifyGrabbingStarted() = 0;
    virtual void notifyGrabbingStopped() = 0;
    virtual void notifyBufferUpdated(boost::shared_ptr<FrameBuffer> buffer) = 0;
    virtual void notifyCameraStatusUpdate(bool cameraClock, bool fval, bool lval, bool exsync, bool extrg,
                                          bool bufferOverflow, int fillLevelStep, int fillLevelPercent) = 0;
    // GUI thread.
    virtual void notifySourcesConnected(bool connected) = 0;
    // Scene threads. May block until the visualizer no longer reads the old buffers.
    virtual void notifyFrameBuffersInvalidated() = 0;
    virtual void notifyFrameBuffersAdded() = 0;
    // Scene threads: call DisplayScene::timerInterrupt once the delay has passed.
    virtual void requestTimedInterrupt(boost::shared_ptr<StopWatch> stopWatch, std::uint64_t microseconds) = 0;

private:
    friend class DisplayScene;
    void setScene(const boost::shared_ptr<DisplayScene>& newScene) VEXO_EXCLUDES(sceneMutex);

    // Guards attachedScene; any thread, held for a copy only.
    mutable Mutex sceneMutex;
    boost::weak_ptr<DisplayScene> attachedScene VEXO_GUARDED_BY(sceneMutex);
};

} // namespace core
} // namespace vexo
