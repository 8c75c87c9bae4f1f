#pragma once

// The working part of a DisplayScene: its threads and the state they share. Internal to
// the runtime. The engine is held by the scene and by each of its threads, so it outlives
// a scene released inside a callback until its threads have ended.

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameSource.h"

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexo {
namespace core {

class DisplaySceneFrame;
class FrameBuffer;
class FrameBufferGroup;
class StopWatch;

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
    DisplaySceneVisualizer* detach(DisplaySceneVisualizer* visualizer);
    DisplaySceneVisualizer* visualizer() const;
    bool withVisualizer(const std::function<void(DisplaySceneVisualizer&)>& f) const;

    // --- Steering (the owner's thread) ---
    void startGrabbing(int mode);
    void stopGrabbing(bool waitForEnd);
    bool isGrabbing() const;
    FrameFormat format() const;
    bool setFormat(const FrameFormat& format);
    std::string ringError() const;
    std::string grabError() const;
    void setGrabRefusedObserver(std::function<void(const std::string&)> observer);
    void changeView(const std::function<void(DisplayScene::View&)>& change);
    DisplayScene::View view() const;
    int validBufferCount() const;
    void timerInterrupt();
    void invalidate();
    void setRenderRateLimit(double framesPerSecond);
    void setStatusPeriod(int milliseconds);
    void recycled() { ++recycledFrames; }

    FrameSource& source() const { return *frameSource; }
    boost::shared_ptr<FrameBufferGroup> group() const;
    DisplayScene::Statistics statistics() const;

    void report(SceneCall::Operation operation, std::int64_t a = 0, std::int64_t b = 0,
                std::int64_t c = 0) const;
    void setCallObserver(std::function<void(const SceneCall&)> observer);

private:
    void acquisitionLoop();
    // False when the source refused to start: nothing was touched.
    bool runAcquisition(int mode);
    void renderLoop();
    void statusLoop();
    void requestRender();
    void wakeStatus();
    boost::shared_ptr<FrameBuffer> bufferToShow(bool grabbingNow, int selected) const;
    boost::shared_ptr<DisplaySceneFrame> canvasFor(int width, int height);
    bool onEngineThread() const;

    const std::unique_ptr<FrameSource> frameSource;
    const int requestedBuffers; // the ring's size as the host asked for it

    // Guards attached and activeCallbacks; callbacksDone wakes a detach that waits for
    // the callbacks of other threads. Held only around the bookkeeping, never during a
    // callback, so a callback may detach (or release the scene) on its own thread.
    mutable std::mutex visualizerMutex;
    mutable std::condition_variable callbacksDone;
    DisplaySceneVisualizer* attached = nullptr;
    mutable int activeCallbacks = 0;

    // Guards everything from here to the atomics; the condition variables wait on it.
    mutable std::mutex mutex;
    std::condition_variable acquisitionWake;
    std::condition_variable renderWake;
    std::condition_variable statusWake;
    std::condition_variable runEnded;
    std::string ringProblem; // why the last ring asked for was not made; empty when it was
    std::string grabProblem; // why the source refused the last start; empty once one worked
    boost::shared_ptr<FrameBufferGroup> buffers; // empty group (capacity 0) when none was made
    DisplayScene::View viewState;
    bool stopping = false;
    bool grabRequested = false;
    bool runActive = false;
    int grabMode = -1;
    bool renderRequested = false;
    bool timerFired = false;
    bool interruptPending = false;
    bool statusChanged = false;
    bool showInProgress = false; // a frame arriving line by line is to be shown
    std::uint64_t minRenderInterval = 1000000 / 60;
    int statusPeriodMilliseconds = 100;
    bool periodChanged = false;
    // Counts buffer replacements (format changes); a frame rendered in an older
    // generation is not handed out.
    std::uint64_t bufferGeneration = 0;

    // Render thread only.
    std::vector<boost::shared_ptr<DisplaySceneFrame>> canvasPool;
    boost::shared_ptr<StopWatch> lastRender;
    std::deque<std::uint64_t> renderTimes;

    // Status thread only: the source's lost-frame count last reported.
    std::uint64_t sourceLostSeen = 0;

    // Any thread.
    std::atomic<bool> grabbing{false};
    std::atomic<bool> frameInProgress{false};
    std::atomic<bool> overflowPending{false};
    std::atomic<std::uint64_t> acquiredFrames{0};
    std::atomic<std::uint64_t> droppedFrames{0};
    std::atomic<std::uint64_t> renderedFrames{0};
    std::atomic<std::uint64_t> recycledFrames{0};
    std::atomic<std::uint64_t> allocatedCanvases{0};

    // Guards callObserver; the observer runs outside the lock.
    mutable std::mutex observerMutex;
    std::function<void(const SceneCall&)> callObserver;
    // Guards refusedObserver and is held while it runs (acquisition thread), so that a host
    // that clears it knows that no call is in progress.
    std::mutex refusedMutex;
    std::function<void(const std::string&)> refusedObserver;

    // Held shared by the render thread from its generation check to the end of the frame
    // notification, exclusively by a format change while it counts a new generation.
    std::shared_mutex notifyGate;

    std::vector<std::thread> threads;
};

} // namespace core
} // namespace vexo
