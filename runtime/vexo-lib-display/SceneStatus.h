#pragma once

// A scene's status thread: camera status and ring fill level for the visualizer. Internal
// to the runtime.

#include "vexo-core/MutexLocker.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>

namespace vexo {
namespace core {

class FrameSource;
class SceneRing;
class SceneVisualizerLink;

// Reports at every change, no more often than a short gap allows, and besides once a
// period (none when the period is 0).
class SceneStatus
{
public:
    SceneStatus(FrameSource& source, const SceneRing& ring, const SceneVisualizerLink& link);

    // The status thread's body; returns once stop() was called.
    void loop() VEXO_EXCLUDES(mutex);

    // Any thread.
    void stop() VEXO_EXCLUDES(mutex);
    // Something changed: report soon.
    void wake() VEXO_EXCLUDES(mutex);
    void setPeriod(int milliseconds) VEXO_EXCLUDES(mutex);
    // Acquisition thread: a frame is being written, or not.
    void setFrameArriving(bool arriving) { frameInProgress = arriving; }
    // Acquisition thread: a frame was dropped; the next report tells of the overflow.
    void overflowed() VEXO_EXCLUDES(mutex);

private:
    // Waits until a report is due; false once stopping.
    bool waitForReport() VEXO_EXCLUDES(mutex);
    void waitForPeriod(MutexLocker& lock) VEXO_REQUIRES(mutex);
    void reportNow();

    FrameSource& source;
    const SceneRing& ring;
    const SceneVisualizerLink& link;

    // Guards the fields below; woken wakes the status thread when one changes.
    Mutex mutex;
    std::condition_variable woken;
    bool stopping VEXO_GUARDED_BY(mutex) = false;
    bool changed VEXO_GUARDED_BY(mutex) = false;
    bool periodChanged VEXO_GUARDED_BY(mutex) = false;
    int periodMilliseconds VEXO_GUARDED_BY(mutex) = 100;

    // Status thread only: the source's lost-frame count last reported.
    std::uint64_t sourceLostSeen = 0;

    // Any thread.
    std::atomic<bool> frameInProgress{false};
    std::atomic<bool> overflowPending{false};
};

} // namespace core
} // namespace vexo
