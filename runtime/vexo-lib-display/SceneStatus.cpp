#include "vexo-lib-display/SceneStatus.h"

#include "vexo-core/MutexLocker.h"
#include "vexo-lib-display/DisplaySceneVisualizer.h"
#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/FrameSource.h"
#include "vexo-lib-display/SceneRing.h"
#include "vexo-lib-display/SceneVisualizerLink.h"

#include <algorithm>
#include <chrono>

namespace vexo {
namespace core {

namespace {

// Changes are reported at once, but not more often than this.
constexpr auto minimumGap = std::chrono::milliseconds(20);

} // namespace

SceneStatus::SceneStatus(FrameSource& frameSource, const SceneRing& sceneRing,
                         const SceneVisualizerLink& visualizerLink)
    : source(frameSource)
    , ring(sceneRing)
    , link(visualizerLink)
{
}

void SceneStatus::stop()
{
    {
        MutexLocker lock(mutex);
        stopping = true;
    }
    woken.notify_all();
}

void SceneStatus::wake()
{
    {
        MutexLocker lock(mutex);
        changed = true;
    }
    woken.notify_all();
}

void SceneStatus::overflowed()
{
    overflowPending = true;
    wake();
}

void SceneStatus::setPeriod(int milliseconds)
{
    {
        MutexLocker lock(mutex);
        periodMilliseconds = std::max(milliseconds, 0);
        periodChanged = true;
    }
    woken.notify_all();
}

void SceneStatus::loop()
{
    while (waitForReport())
        reportNow();
}

void SceneStatus::waitForPeriod(MutexLocker& lock)
{
    // A new period starts whenever it is changed; nothing is due by that alone.
    do {
        periodChanged = false;
        const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMilliseconds);
        const bool timed = periodMilliseconds > 0;
        while (!stopping && !changed && !periodChanged) {
            if (!timed)
                lock.wait(woken);
            else if (!lock.waitUntil(woken, due))
                return;
        }
    } while (!stopping && !changed);
}

bool SceneStatus::waitForReport()
{
    MutexLocker lock(mutex);
    waitForPeriod(lock);
    periodChanged = false;
    if (changed && !stopping) {
        // A burst of changes (frames dropped at a high rate) makes one report.
        const auto gapEnd = std::chrono::steady_clock::now() + minimumGap;
        while (!stopping && lock.waitUntil(woken, gapEnd)) { }
    }
    changed = false;
    return !stopping;
}

void SceneStatus::reportNow()
{
    const FrameSource::Status status = source.status();
    const bool arriving = frameInProgress.load();
    bool overflow = overflowPending.exchange(false);
    if (status.framesLost != sourceLostSeen) {
        sourceLostSeen = status.framesLost;
        overflow = true;
    }
    const boost::shared_ptr<FrameBufferGroup> group = ring.group();
    // The share of the ring that the next frame cannot go into: 100 % means frames are
    // being dropped.
    const int percent = group->capacity() > 0 ? group->busyCount() * 100 / group->capacity() : 0;
    // One reference for the callback: a capture of two words at most stays inside the
    // std::function, so a report allocates nothing.
    const struct
    {
        bool clock, arriving, exsync, extrg, overflow;
        int step, percent;
    } r{status.clock, arriving, status.exsync, status.extrg, overflow, std::min(3, percent / 25), percent};
    link.withVisualizer([&r](DisplaySceneVisualizer& v) {
        v.notifyCameraStatusUpdate(r.clock, r.arriving, r.arriving, r.exsync, r.extrg, r.overflow, r.step, r.percent);
    });
}

} // namespace core
} // namespace vexo
