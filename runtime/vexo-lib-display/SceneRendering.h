#pragma once

// A scene's render thread: turns the shown buffer into canvases for the visualizer.
// Internal to the runtime.

#include "vexo-core/MutexLocker.h"
#include "vexo-lib-display/AutoLevels.h"
#include "vexo-lib-display/DisplayLevels.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/LevelsTable.h"

#include <boost/shared_ptr.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>

namespace vexo {
namespace core {

class CanvasPool;
class FrameBuffer;
class FrameBufferGroup;
class SceneRing;
class SceneVisualizerLink;
class StopWatch;

// Renders on request (a view change, a new frame, lines of a slow frame) and on timer
// interrupts. While grabbing, renders are paced to the rate limit: one that comes too
// early asks the visualizer for a timer interrupt and waits for it.
class SceneRendering
{
public:
    // isGrabbing: whether the acquisition runs; any thread.
    SceneRendering(SceneRing& ring, const SceneVisualizerLink& link, std::function<bool()> isGrabbing);
    ~SceneRendering();

    // The render thread's body; returns once stop() was called.
    void loop() VEXO_EXCLUDES(mutex);

    // Any thread.
    void stop() VEXO_EXCLUDES(mutex);
    void requestRender() VEXO_EXCLUDES(mutex);
    void timerInterrupt() VEXO_EXCLUDES(mutex);
    void changeView(const std::function<void(DisplayScene::View&)>& change) VEXO_EXCLUDES(mutex);
    DisplayScene::View view() const VEXO_EXCLUDES(mutex);
    void setRateLimit(double framesPerSecond) VEXO_EXCLUDES(mutex);
    // Acquisition thread: the frame being written is to be shown as its lines arrive.
    void setShowArriving(bool show) VEXO_EXCLUDES(mutex);
    // GUI thread: the display range from the next render on; asks for one.
    void setLevels(const DisplayLevels& levels) VEXO_EXCLUDES(mutex);
    // Any thread.
    DisplayLevels levels() const VEXO_EXCLUDES(mutex);
    // Any thread: the range the last render used; before one, what the levels say for a
    // frame of bitsPerPixel (Auto: the default range until it was measured).
    DisplayLevels::Range levelsInUse(int bitsPerPixel) const VEXO_EXCLUDES(mutex);
    std::uint64_t renderedFrames() const { return rendered.load(); }
    std::uint64_t canvasesAllocated() const;

private:
    struct Work
    {
        DisplayScene::View view;
        bool fired = false;
        std::uint64_t interval = 0;
        DisplayLevels levels;
        bool levelsChanged = false;
    };

    // Waits for a render request or a timer interrupt and takes it, with the view to render;
    // false once stopping.
    bool waitForWork(Work* work) VEXO_EXCLUDES(mutex);
    bool tooEarly(const Work& work) const;
    // Asks for a timer interrupt and waits for it, or paces itself should none come.
    void waitForPace(std::uint64_t interval) VEXO_EXCLUDES(mutex);
    void renderOnce(const Work& work, bool grabbingNow);
    // Render thread: the table for the levels on this buffer, null for the default
    // mapping; publishes the range in use.
    const std::uint32_t* levelsTable(const FrameBuffer& source, const DisplayLevels& levels, bool levelsChanged)
        VEXO_EXCLUDES(mutex);
    boost::shared_ptr<FrameBuffer> bufferToShow(const FrameBufferGroup& group, bool grabbingNow, int selected) const
        VEXO_EXCLUDES(mutex);
    // Counts a render; the rate achieved over the last few.
    double countRender();

    SceneRing& ring;
    const SceneVisualizerLink& link;
    const std::function<bool()> isGrabbing;
    const std::shared_ptr<CanvasPool> canvases;

    // Guards the fields below; wake wakes the render thread when one changes.
    mutable Mutex mutex;
    std::condition_variable wake;
    bool stopping VEXO_GUARDED_BY(mutex) = false;
    bool renderRequested VEXO_GUARDED_BY(mutex) = false;
    bool timerFired VEXO_GUARDED_BY(mutex) = false;
    bool interruptPending VEXO_GUARDED_BY(mutex) = false;
    bool showInProgress VEXO_GUARDED_BY(mutex) = false; // a frame arriving line by line is shown
    DisplayScene::View viewState VEXO_GUARDED_BY(mutex);
    std::uint64_t minRenderInterval VEXO_GUARDED_BY(mutex) = 1000000 / 60;
    DisplayLevels levelsState VEXO_GUARDED_BY(mutex);
    bool levelsChanged VEXO_GUARDED_BY(mutex) = false; // since the render thread took them
    bool levelsRendered VEXO_GUARDED_BY(mutex) = false; // rangeInUse is of the levels set
    DisplayLevels::Range rangeInUse VEXO_GUARDED_BY(mutex);

    // Render thread only. The watch restarts at each render (the window reads it for a
    // timed interrupt, which only comes while no render happens); the times of the last
    // few renders are kept in a ring, so counting a render never allocates.
    const boost::shared_ptr<StopWatch> lastRender;
    bool renderedOnce = false;
    std::array<std::uint64_t, 16> renderTimes{}; // the rate is taken over this many renders
    std::size_t renderTimesKept = 0;
    std::size_t nextRenderTime = 0;
    // Render thread only: the levels' table (rebuilt when the range changes), the Auto
    // measurement with the time it is due again, and the shape of the buffer it was
    // measured on (a new size or bit depth measures at once).
    LevelsTable table;
    AutoLevels autoLevels;
    DisplayLevels::Range autoRange;
    bool autoMeasured = false;
    std::chrono::steady_clock::time_point nextAutoMeasure;
    std::array<int, 4> measuredShape{}; // width, height, bits, gray
    DisplayLevels::Range publishedRange; // the last range written to rangeInUse

    std::atomic<std::uint64_t> rendered{0};
};

} // namespace core
} // namespace vexo
