#include "vexo-lib-display/SceneEngine.h"

#include "vexo-lib-display/FrameBufferGroup.h"

#include <algorithm>

namespace vexo {
namespace core {

SceneEngine::SceneEngine(std::unique_ptr<FrameSource> source, int bufferCount)
    : frameSource(std::move(source))
    , ring(frameSource->format(), std::max(bufferCount, 1))
    , status(*frameSource, ring, link)
    , rendering(ring, link, [this] { return acquisition.isGrabbing(); })
    , acquisition(*frameSource, ring, link, rendering, status, frameRecorder)
{
    frameSource->setRingCapacity(ring.count());
}

SceneEngine::~SceneEngine()
{
    // Threads that ended by themselves after a shutdown from one of them are detached.
    for (std::thread& t : threads)
        if (t.joinable())
            t.detach();
}

void SceneEngine::startThreads()
{
    std::shared_ptr<SceneEngine> self = shared_from_this();
    threads.emplace_back([self] { self->acquisition.loop(); });
    threads.emplace_back([self] { self->rendering.loop(); });
    threads.emplace_back([self] { self->status.loop(); });
}

bool SceneEngine::onEngineThread() const
{
    const std::thread::id me = std::this_thread::get_id();
    return std::any_of(threads.begin(), threads.end(), [me](const std::thread& t) { return t.get_id() == me; });
}

int SceneEngine::ringCapacity() const
{
    return ring.group()->capacity();
}

void SceneEngine::shutdown()
{
    // What is queued still goes to disk; the recorder's end waits for it.
    frameRecorder.stop();
    acquisition.stop();
    rendering.stop();
    status.stop();
    const std::thread::id me = std::this_thread::get_id();
    for (std::thread& t : threads) {
        if (t.get_id() == me)
            t.detach();
        else if (t.joinable())
            t.join();
    }
}

void SceneEngine::attach(DisplaySceneVisualizer* visualizer)
{
    link.attach(visualizer);
    rendering.requestRender();
}

void SceneEngine::stopGrabbing(bool waitForEnd)
{
    // The acquisition thread cannot wait for the end of its own run.
    acquisition.stopGrabbing(waitForEnd && !onEngineThread());
}

bool SceneEngine::setFormat(const FrameFormat& format)
{
    stopGrabbing(true);
    return acquisition.changeFormat(format);
}

int SceneEngine::validBufferCount() const
{
    return ring.group()->size();
}

DisplayScene::Statistics SceneEngine::statistics() const
{
    DisplayScene::Statistics s;
    s.framesAcquired = acquisition.acquiredFrames();
    s.framesDropped = acquisition.droppedFrames();
    s.framesRendered = rendering.renderedFrames();
    s.framesRecycled = recycledFrames.load();
    s.canvasesAllocated = rendering.canvasesAllocated();
    return s;
}

} // namespace core
} // namespace vexo
