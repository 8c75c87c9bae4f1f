#include "vexo-lib-display/DisplayScene.h"

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/DisplaySceneVisualizer.h"
#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/ManualFrameSource.h"
#include "vexo-lib-display/SceneEngine.h"
#include "vexo-lib-display/ZoomStep.h"

#include <algorithm>

namespace vexo {
namespace core {

boost::shared_ptr<DisplayScene> DisplayScene::create(std::unique_ptr<FrameSource> source, int bufferCount)
{
    return boost::shared_ptr<DisplayScene>(new DisplayScene(std::move(source), bufferCount));
}

boost::shared_ptr<DisplayScene> DisplayScene::create(const Format& format, int bufferCount)
{
    return create(std::unique_ptr<FrameSource>(new ManualFrameSource(format)), bufferCount);
}

DisplayScene::DisplayScene(std::unique_ptr<FrameSource> source, int bufferCount)
    : engine(std::make_shared<SceneEngine>(std::move(source), bufferCount))
{
    engine->startThreads();
}

DisplayScene::~DisplayScene()
{
    // The visualizer learns that it has no scene any more; a callback running now keeps
    // this from finishing until it has returned, unless it runs on this very thread.
    if (DisplaySceneVisualizer* last = engine->visualizer()) {
        if (engine->detach(last))
            last->setScene({});
    }
    engine->shutdown();
}

void DisplayScene::attachVisualizer(DisplaySceneVisualizer* newVisualizer)
{
    DisplaySceneVisualizer* previous = visualizer();
    if (previous && previous != newVisualizer)
        detachVisualizer(previous);
    if (!newVisualizer)
        return;
    newVisualizer->setScene(shared_from_this());
    engine->attach(newVisualizer);
    const bool connected = engine->source().status().connected;
    withVisualizer([connected](DisplaySceneVisualizer& v) {
        v.notifySceneAttached();
        v.notifySourcesConnected(connected);
    });
}

void DisplayScene::detachVisualizer(DisplaySceneVisualizer* leaving)
{
    if (engine->detach(leaving))
        leaving->setScene({});
}

DisplaySceneVisualizer* DisplayScene::visualizer() const
{
    return engine->visualizer();
}

bool DisplayScene::withVisualizer(const std::function<void(DisplaySceneVisualizer&)>& f) const
{
    return engine->withVisualizer(f);
}

void DisplayScene::startGrabbing(int mode)
{
    engine->report(SceneCall::StartGrabbing, mode);
    engine->startGrabbing(mode);
}

void DisplayScene::stopGrabbing()
{
    engine->report(SceneCall::StopGrabbing);
    engine->stopGrabbing(false);
}

bool DisplayScene::isGrabbing() const
{
    engine->report(SceneCall::IsGrabbing);
    return engine->isGrabbing();
}

int DisplayScene::width() const
{
    engine->report(SceneCall::Width);
    return engine->format().width;
}

int DisplayScene::height() const
{
    engine->report(SceneCall::Height);
    return engine->format().height;
}

void DisplayScene::setCanvasSize(int canvasWidth, int canvasHeight)
{
    engine->report(SceneCall::SetCanvasSize, canvasWidth, canvasHeight);
    engine->changeView([=](View& v) {
        v.canvasWidth = std::max(canvasWidth, 0);
        v.canvasHeight = std::max(canvasHeight, 0);
    });
}

void DisplayScene::setZoomFactor(int step)
{
    engine->report(SceneCall::SetZoomFactor, step);
    engine->changeView([=](View& v) { v.zoomStep = ZoomStep(step).value(); });
}

void DisplayScene::setOffset(int x, int y)
{
    engine->report(SceneCall::SetOffset, x, y);
    engine->changeView([=](View& v) {
        v.offsetX = x;
        v.offsetY = y;
    });
}

void DisplayScene::setZoomFactorAndOffset(int step, int x, int y)
{
    engine->report(SceneCall::SetZoomFactorAndOffset, step, x, y);
    engine->changeView([=](View& v) {
        v.zoomStep = ZoomStep(step).value();
        v.offsetX = x;
        v.offsetY = y;
    });
}

void DisplayScene::setVisualizerVisible(bool visible)
{
    engine->report(SceneCall::SetVisualizerVisible, visible ? 1 : 0);
    engine->changeView([=](View& v) { v.visible = visible; });
}

void DisplayScene::setBuffer(int number)
{
    engine->report(SceneCall::SetBuffer, number);
    engine->changeView([=](View& v) { v.selectedBuffer = number; });
}

int DisplayScene::getValidBufferCount() const
{
    engine->report(SceneCall::GetValidBufferCount);
    return engine->validBufferCount();
}

void DisplayScene::enableZoomGrid(bool enabled)
{
    engine->report(SceneCall::EnableZoomGrid, enabled ? 1 : 0);
    engine->changeView([=](View& v) { v.zoomGrid = enabled; });
}

void DisplayScene::invalidateScene()
{
    engine->report(SceneCall::InvalidateScene);
    engine->invalidate();
}

void DisplayScene::timerInterrupt()
{
    engine->report(SceneCall::TimerInterrupt);
    engine->timerInterrupt();
}

void DisplayScene::recycleFrame(boost::shared_ptr<DisplaySceneFrame> frame)
{
    engine->report(SceneCall::FreeSceneFrame, frame ? 1 : 0);
    if (frame)
        engine->recycled();
}

bool DisplayScene::setFormat(const Format& format)
{
    return engine->setFormat(format);
}

std::string DisplayScene::ringError() const
{
    return engine->ringError();
}

std::string DisplayScene::grabError() const
{
    return engine->grabError();
}

void DisplayScene::setGrabRefusedObserver(std::function<void(const std::string&)> observer)
{
    engine->setGrabRefusedObserver(std::move(observer));
}

DisplayScene::Format DisplayScene::format() const
{
    return engine->format();
}

void DisplayScene::refreshSourcesConnected()
{
    const bool connected = engine->source().status().connected;
    withVisualizer([connected](DisplaySceneVisualizer& v) { v.notifySourcesConnected(connected); });
}

void DisplayScene::setRenderRateLimit(double framesPerSecond)
{
    engine->setRenderRateLimit(framesPerSecond);
}

void DisplayScene::setStatusPeriod(int milliseconds)
{
    engine->setStatusPeriod(milliseconds);
}

void DisplayScene::setDisplayLevels(const DisplayLevels& levels)
{
    engine->setLevels(levels);
}

DisplayLevels DisplayScene::displayLevels() const
{
    return engine->levels();
}

DisplayLevels::Range DisplayScene::levelsInUse() const
{
    return engine->levelsInUse();
}

FrameSource& DisplayScene::source() const
{
    return engine->source();
}

boost::shared_ptr<FrameBufferGroup> DisplayScene::frameBufferGroup() const
{
    return engine->group();
}

bool DisplayScene::startRecording(const SceneRecorder::Settings& settings, std::string* error)
{
    return engine->recorder().start(settings, engine->ringCapacity(), error);
}

SceneRecorder& DisplayScene::recorder() const
{
    return engine->recorder();
}

void DisplayScene::setCallObserver(std::function<void(const SceneCall&)> observer)
{
    engine->setCallObserver(std::move(observer));
}

DisplayScene::Statistics DisplayScene::statistics() const
{
    return engine->statistics();
}

std::uint64_t DisplayScene::recycledFrameCount() const
{
    return engine->statistics().framesRecycled;
}

DisplayScene::View DisplayScene::view() const
{
    return engine->view();
}

} // namespace core
} // namespace vexo
