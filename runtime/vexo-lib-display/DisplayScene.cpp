#include "vexo-lib-display/DisplayScene.h"

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/DisplaySceneVisualizer.h"
#include "vexo-lib-display/FrameBufferGroup.h"

#include <algorithm>

namespace vexo {
namespace core {

boost::shared_ptr<DisplayScene> DisplayScene::create(const Format& format, int bufferCount)
{
    return boost::shared_ptr<DisplayScene>(new DisplayScene(format, bufferCount));
}

DisplayScene::DisplayScene(const Format& sceneFormat, int bufferCount)
    : format(sceneFormat)
    , buffers(FrameBufferGroup::create(std::max(bufferCount, 1), sceneFormat.width,
                                       sceneFormat.height, sceneFormat.bitsPerPixel,
                                       sceneFormat.gray))
{
}

DisplayScene::~DisplayScene()
{
    DisplaySceneVisualizer* last = nullptr;
    {
        std::unique_lock<std::shared_mutex> lock(visualizerLock);
        std::swap(last, attached);
    }
    if (last)
        last->setScene({});
}

void DisplayScene::attachVisualizer(DisplaySceneVisualizer* newVisualizer)
{
    DisplaySceneVisualizer* previous = visualizer();
    if (previous && previous != newVisualizer)
        detachVisualizer(previous);
    if (!newVisualizer)
        return;
    {
        std::unique_lock<std::shared_mutex> lock(visualizerLock);
        attached = newVisualizer;
    }
    newVisualizer->setScene(shared_from_this());
    withVisualizer([](DisplaySceneVisualizer& v) { v.notifySceneAttached(); });
}

void DisplayScene::detachVisualizer(DisplaySceneVisualizer* leaving)
{
    {
        // Exclusive: waits for every callback that is running to return.
        std::unique_lock<std::shared_mutex> lock(visualizerLock);
        if (!leaving || attached != leaving)
            return;
        attached = nullptr;
    }
    leaving->setScene({});
}

DisplaySceneVisualizer* DisplayScene::visualizer() const
{
    std::shared_lock<std::shared_mutex> lock(visualizerLock);
    return attached;
}

bool DisplayScene::withVisualizer(const std::function<void(DisplaySceneVisualizer&)>& f) const
{
    std::shared_lock<std::shared_mutex> lock(visualizerLock);
    if (!attached)
        return false;
    f(*attached);
    return true;
}

void DisplayScene::setGrabbing(bool nowGrabbing)
{
    if (grabbing.exchange(nowGrabbing) == nowGrabbing)
        return;
    if (nowGrabbing)
        withVisualizer([](DisplaySceneVisualizer& v) { v.notifyGrabbingStarted(); });
    else
        withVisualizer([](DisplaySceneVisualizer& v) { v.notifyGrabbingStopped(); });
}

void DisplayScene::startGrabbing(int mode)
{
    report(SceneCall::StartGrabbing, mode);
    buffers->reset();
    setGrabbing(true);
}

void DisplayScene::stopGrabbing()
{
    report(SceneCall::StopGrabbing);
    setGrabbing(false);
}

bool DisplayScene::isGrabbing() const
{
    report(SceneCall::IsGrabbing);
    return grabbing.load();
}

int DisplayScene::width() const
{
    report(SceneCall::Width);
    return format.width;
}

int DisplayScene::height() const
{
    report(SceneCall::Height);
    return format.height;
}

void DisplayScene::setCanvasSize(int canvasWidth, int canvasHeight)
{
    report(SceneCall::SetCanvasSize, canvasWidth, canvasHeight);
    std::lock_guard<std::mutex> lock(viewMutex);
    viewState.canvasWidth = canvasWidth;
    viewState.canvasHeight = canvasHeight;
}

void DisplayScene::setZoomFactor(int step)
{
    report(SceneCall::SetZoomFactor, step);
    std::lock_guard<std::mutex> lock(viewMutex);
    viewState.zoomStep = std::clamp(step, 0, 12);
}

void DisplayScene::setOffset(int x, int y)
{
    report(SceneCall::SetOffset, x, y);
    std::lock_guard<std::mutex> lock(viewMutex);
    viewState.offsetX = x;
    viewState.offsetY = y;
}

void DisplayScene::setZoomFactorAndOffset(int step, int x, int y)
{
    report(SceneCall::SetZoomFactorAndOffset, step, x, y);
    std::lock_guard<std::mutex> lock(viewMutex);
    viewState.zoomStep = std::clamp(step, 0, 12);
    viewState.offsetX = x;
    viewState.offsetY = y;
}

void DisplayScene::setVisualizerVisible(bool visible)
{
    report(SceneCall::SetVisualizerVisible, visible ? 1 : 0);
    std::lock_guard<std::mutex> lock(viewMutex);
    viewState.visible = visible;
}

void DisplayScene::setBuffer(int number)
{
    report(SceneCall::SetBuffer, number);
    std::lock_guard<std::mutex> lock(viewMutex);
    viewState.selectedBuffer = number;
}

int DisplayScene::getValidBufferCount() const
{
    report(SceneCall::GetValidBufferCount);
    return buffers->size();
}

void DisplayScene::enableZoomGrid(bool enabled)
{
    report(SceneCall::EnableZoomGrid, enabled ? 1 : 0);
    std::lock_guard<std::mutex> lock(viewMutex);
    viewState.zoomGrid = enabled;
}

void DisplayScene::invalidateScene()
{
    report(SceneCall::InvalidateScene);
}

void DisplayScene::timerInterrupt()
{
    report(SceneCall::TimerInterrupt);
}

void DisplayScene::recycleFrame(boost::shared_ptr<DisplaySceneFrame> frame)
{
    report(SceneCall::FreeSceneFrame, frame ? 1 : 0);
    if (frame)
        ++recycledFrames;
}

boost::shared_ptr<FrameBufferGroup> DisplayScene::frameBufferGroup() const
{
    return buffers;
}

void DisplayScene::setCallObserver(std::function<void(const SceneCall&)> observer)
{
    std::lock_guard<std::mutex> lock(observerMutex);
    callObserver = std::move(observer);
}

std::uint64_t DisplayScene::recycledFrameCount() const
{
    return recycledFrames.load();
}

DisplayScene::View DisplayScene::view() const
{
    std::lock_guard<std::mutex> lock(viewMutex);
    return viewState;
}

void DisplayScene::report(SceneCall::Operation operation, std::int64_t a, std::int64_t b,
                          std::int64_t c) const
{
    std::function<void(const SceneCall&)> observer;
    {
        std::lock_guard<std::mutex> lock(observerMutex);
        observer = callObserver;
    }
    if (observer) {
        SceneCall call;
        call.operation = operation;
        call.a = a;
        call.b = b;
        call.c = c;
        observer(call);
    }
}

} // namespace core
} // namespace vexo
