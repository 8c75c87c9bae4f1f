#pragma once

// A scene's acquisition thread and its steering: grab runs, frames into the ring, format
// changes. Internal to the runtime.

#include "vexo-core/MutexLocker.h"
#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/FrameFormat.h"
#include "vexo-lib-display/FrameSource.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <string>

namespace vexo {
namespace core {

class SceneRecorder;
class SceneRendering;
class SceneRing;
class SceneStatus;
class SceneVisualizerLink;

// Runs one grab at a time on the acquisition thread. A frame goes into the oldest free
// slot of the ring, or is dropped, counted, when there is none: acquisition never waits
// for a reader. A counted run (a sequence, a single frame) never gives up a frame it
// stored, so it ends with all it asked for even while slots of an earlier run are still
// held. Steering calls come from the owner's thread (or a callback).
class SceneAcquisition
{
public:
    SceneAcquisition(FrameSource& source, SceneRing& ring, const SceneVisualizerLink& link, SceneRendering& rendering,
                     SceneStatus& status, SceneRecorder& recorder);

    // The acquisition thread's body; returns once stop() was called.
    void loop() VEXO_EXCLUDES(mutex);
    // Any thread.
    void stop() VEXO_EXCLUDES(mutex);

    // -1 until stopped, 0 as many frames as the ring holds, 1 a single frame. Ignored
    // while grabbing, stopping or without a ring.
    void startGrabbing(int mode) VEXO_EXCLUDES(mutex);
    // waitForEnd: returns once the run has ended; never from the acquisition thread.
    void stopGrabbing(bool waitForEnd) VEXO_EXCLUDES(mutex);
    bool isGrabbing() const { return grabbing.load(); }
    // Owner's thread, while not grabbing: a new format and a ring made for it.
    bool changeFormat(const FrameFormat& format);
    std::string grabError() const VEXO_EXCLUDES(mutex);
    void setGrabRefusedObserver(std::function<void(const std::string&)> observer) VEXO_EXCLUDES(refusedMutex);

    std::uint64_t acquiredFrames() const { return acquired.load(); }
    std::uint64_t droppedFrames() const { return dropped.load(); }

private:
    // Waits for a start; false once stopping.
    bool waitForStart(int* mode) VEXO_EXCLUDES(mutex);
    // False when the source refused to start: nothing was touched.
    bool run(int mode);
    bool startSource() VEXO_EXCLUDES(mutex);
    bool stillWanted() const VEXO_EXCLUDES(mutex);
    FrameSource::Delivery storeFrame(FrameBufferGroup& group, std::int64_t index, FrameBufferGroup::Stored kept,
                                     int* stored);
    FrameSource::Delivery dropFrame();
    void finishRun(bool ran) VEXO_EXCLUDES(mutex);
    void tellRefused(const std::string& reason) VEXO_EXCLUDES(refusedMutex);

    FrameSource& source;
    SceneRing& ring;
    const SceneVisualizerLink& link;
    SceneRendering& rendering;
    SceneStatus& status;
    SceneRecorder& recorder;

    // Guards the fields below. wake wakes the acquisition thread, runEnded a stop that
    // waits for the end of the run.
    mutable Mutex mutex;
    std::condition_variable wake;
    std::condition_variable runEnded;
    bool stopping VEXO_GUARDED_BY(mutex) = false;
    bool grabRequested VEXO_GUARDED_BY(mutex) = false;
    bool runActive VEXO_GUARDED_BY(mutex) = false;
    int grabMode VEXO_GUARDED_BY(mutex) = -1;
    std::string grabProblem VEXO_GUARDED_BY(mutex); // why the last start was refused

    // Guards refusedObserver and is held while it runs (acquisition thread), so that a host
    // that clears it knows that no call is in progress.
    Mutex refusedMutex;
    std::function<void(const std::string&)> refusedObserver VEXO_GUARDED_BY(refusedMutex);

    // Set under mutex together with the request, so that a start and a stop agree; read
    // without it from any thread.
    std::atomic<bool> grabbing{false};
    std::atomic<std::uint64_t> acquired{0};
    std::atomic<std::uint64_t> dropped{0};
};

} // namespace core
} // namespace vexo
