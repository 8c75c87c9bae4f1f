#pragma once

// The working part of a DisplayScene: its parts and the threads that run them. Internal
// to the runtime. The engine is held by the scene and by each of its threads, so it
// outlives a scene released inside a callback until its threads have ended.
//
// Each part owns its state and its lock: the visualizer link (the visualizer, callbacks,
// the call observer), the ring (buffers and their generation), the status thread, the
// render thread and the acquisition thread with its steering. The engine wires them and
// forwards the scene's calls; it holds no lock of its own.

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameSource.h"
#include "vexo-lib-display/SceneAcquisition.h"
#include "vexo-lib-display/SceneRecorder.h"
#include "vexo-lib-display/SceneRendering.h"
#include "vexo-lib-display/SceneRing.h"
#include "vexo-lib-display/SceneStatus.h"
#include "vexo-lib-display/SceneVisualizerLink.h"

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vexo {
namespace core {

class FrameBufferGroup;

class SceneEngine : public std::enable_shared_from_this<SceneEngine>
{
public:
    SceneEngine(std::unique_ptr<FrameSource> source, int bufferCount);
    ~SceneEngine();

    // Starts the acquisition, render and status threads; each holds the engine.
    void startThreads();
    // Ends the threads. Joins them, except the calling thread if it is one of them (it
    // returns to its loop, sees the stop and ends by itself).
    void shutdown();

    // --- Visualizer ---
    void attach(DisplaySceneVisualizer* visualizer);
    DisplaySceneVisualizer* detach(DisplaySceneVisualizer* visualizer) { return link.detach(visualizer); }
    DisplaySceneVisualizer* visualizer() const { return link.visualizer(); }
    bool withVisualizer(const std::function<void(DisplaySceneVisualizer&)>& f) const { return link.withVisualizer(f); }

    // --- Steering (the owner's thread) ---
    void startGrabbing(int mode) { acquisition.startGrabbing(mode); }
    void stopGrabbing(bool waitForEnd);
    bool isGrabbing() const { return acquisition.isGrabbing(); }
    FrameFormat format() const { return frameSource->format(); }
    bool setFormat(const FrameFormat& format);
    std::string ringError() const { return ring.error(); }
    std::string grabError() const { return acquisition.grabError(); }
    void setGrabRefusedObserver(std::function<void(const std::string&)> observer)
    {
        acquisition.setGrabRefusedObserver(std::move(observer));
    }
    void changeView(const std::function<void(DisplayScene::View&)>& change) { rendering.changeView(change); }
    DisplayScene::View view() const { return rendering.view(); }
    int validBufferCount() const;
    void timerInterrupt() { rendering.timerInterrupt(); }
    void invalidate() { rendering.requestRender(); }
    void setRenderRateLimit(double framesPerSecond) { rendering.setRateLimit(framesPerSecond); }
    void setStatusPeriod(int milliseconds) { status.setPeriod(milliseconds); }
    void setLevels(const DisplayLevels& levels) { rendering.setLevels(levels); }
    DisplayLevels levels() const { return rendering.levels(); }
    DisplayLevels::Range levelsInUse() const { return rendering.levelsInUse(format().bitsPerPixel); }
    void recycled() { ++recycledFrames; }
    SceneRecorder& recorder() { return frameRecorder; }
    int ringCapacity() const;

    FrameSource& source() const { return *frameSource; }
    boost::shared_ptr<FrameBufferGroup> group() const { return ring.group(); }
    DisplayScene::Statistics statistics() const;

    void report(SceneCall::Operation operation, std::int64_t a = 0, std::int64_t b = 0, std::int64_t c = 0) const
    {
        link.report(operation, a, b, c);
    }
    void setCallObserver(std::function<void(const SceneCall&)> observer) { link.setCallObserver(std::move(observer)); }

private:
    bool onEngineThread() const;

    const std::unique_ptr<FrameSource> frameSource;
    SceneVisualizerLink link;
    SceneRing ring;
    SceneStatus status;
    SceneRendering rendering;
    // Before the acquisition that feeds it, so that it goes after it.
    SceneRecorder frameRecorder;
    SceneAcquisition acquisition;
    std::atomic<std::uint64_t> recycledFrames{0};

    // Filled by startThreads() before the scene is handed out; shutdown() ends them.
    std::vector<std::thread> threads;
};

} // namespace core
} // namespace vexo
