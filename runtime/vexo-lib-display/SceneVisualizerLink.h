#pragma once

// How a scene reaches its visualizer and its call observer. Internal to the runtime.

#include "vexo-core/Mutex.h"
#include "vexo-lib-display/SceneCall.h"

#include <condition_variable>
#include <cstdint>
#include <functional>

namespace vexo {
namespace core {

class DisplaySceneVisualizer;

// The attached visualizer and the callbacks running on it. Every callback goes through
// withVisualizer(), which detach() waits for, so that a detached visualizer hears nothing
// more. Any thread; a callback may detach (or release the scene) on its own thread.
class SceneVisualizerLink
{
public:
    void attach(DisplaySceneVisualizer* visualizer) VEXO_EXCLUDES(mutex);
    // Null unless that visualizer was attached. Waits for the callbacks running on other
    // threads; those on this thread (a callback that detaches) cannot end before it returns.
    DisplaySceneVisualizer* detach(DisplaySceneVisualizer* visualizer) VEXO_EXCLUDES(mutex);
    DisplaySceneVisualizer* visualizer() const VEXO_EXCLUDES(mutex);
    // Runs f with the attached visualizer, outside the lock; false when none is attached.
    bool withVisualizer(const std::function<void(DisplaySceneVisualizer&)>& f) const VEXO_EXCLUDES(mutex);

    // Runs the call observer, if any, on the caller's thread, outside the lock.
    void report(SceneCall::Operation operation, std::int64_t a, std::int64_t b, std::int64_t c) const
        VEXO_EXCLUDES(observerMutex);
    void setCallObserver(std::function<void(const SceneCall&)> observer) VEXO_EXCLUDES(observerMutex);

private:
    void callbackEnded() const VEXO_EXCLUDES(mutex);

    // Guards attached and activeCallbacks; held only around the bookkeeping, never during
    // a callback. callbacksDone wakes a detach that waits for other threads' callbacks.
    mutable Mutex mutex;
    mutable std::condition_variable callbacksDone;
    DisplaySceneVisualizer* attached VEXO_GUARDED_BY(mutex) = nullptr;
    mutable int activeCallbacks VEXO_GUARDED_BY(mutex) = 0;

    // Guards callObserver, which is copied out to run.
    mutable Mutex observerMutex;
    std::function<void(const SceneCall&)> callObserver VEXO_GUARDED_BY(observerMutex);
};

} // namespace core
} // namespace vexo
