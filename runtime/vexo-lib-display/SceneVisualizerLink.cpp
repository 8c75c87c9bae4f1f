#include "vexo-lib-display/SceneVisualizerLink.h"

#include "vexo-core/MutexLocker.h"

#include <algorithm>
#include <vector>

namespace vexo {
namespace core {

namespace {

// The links whose callbacks are running on this thread, innermost last.
thread_local std::vector<const SceneVisualizerLink*> callbacksOnThisThread;

} // namespace

void SceneVisualizerLink::attach(DisplaySceneVisualizer* visualizer)
{
    MutexLocker lock(mutex);
    attached = visualizer;
}

DisplaySceneVisualizer* SceneVisualizerLink::detach(DisplaySceneVisualizer* visualizer)
{
    MutexLocker lock(mutex);
    if (!visualizer || attached != visualizer)
        return nullptr;
    attached = nullptr; // no callback starts from now on
    const int own = static_cast<int>(std::count(callbacksOnThisThread.begin(), callbacksOnThisThread.end(), this));
    while (activeCallbacks > own)
        lock.wait(callbacksDone);
    return visualizer;
}

DisplaySceneVisualizer* SceneVisualizerLink::visualizer() const
{
    MutexLocker lock(mutex);
    return attached;
}

bool SceneVisualizerLink::withVisualizer(const std::function<void(DisplaySceneVisualizer&)>& f) const
{
    DisplaySceneVisualizer* target;
    {
        MutexLocker lock(mutex);
        target = attached;
        if (!target)
            return false;
        ++activeCallbacks;
    }
    callbacksOnThisThread.push_back(this);
    struct Done
    {
        const SceneVisualizerLink* link;
        ~Done() { link->callbackEnded(); }
    } done{this};
    f(*target);
    return true;
}

void SceneVisualizerLink::callbackEnded() const
{
    callbacksOnThisThread.pop_back();
    {
        MutexLocker lock(mutex);
        --activeCallbacks;
    }
    callbacksDone.notify_all();
}

void SceneVisualizerLink::report(SceneCall::Operation operation, std::int64_t a, std::int64_t b, std::int64_t c) const
{
    std::function<void(const SceneCall&)> observer;
    {
        MutexLocker lock(observerMutex);
        observer = callObserver;
    }
    if (!observer)
        return;
    SceneCall call;
    call.operation = operation;
    call.a = a;
    call.b = b;
    call.c = c;
    observer(call);
}

void SceneVisualizerLink::setCallObserver(std::function<void(const SceneCall&)> observer)
{
    MutexLocker lock(observerMutex);
    callObserver = std::move(observer);
}

} // namespace core
} // namespace vexo
