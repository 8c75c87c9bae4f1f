#include "vexo-lib-display/SceneRendering.h"

#include "vexo-core/StopWatch.h"
#include "vexo-lib-display/CanvasPool.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/DisplaySceneVisualizer.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/SceneRenderer.h"
#include "vexo-lib-display/SceneRing.h"
#include "vexo-lib-display/SceneVisualizerLink.h"

#include <boost/make_shared.hpp>

#include <chrono>

namespace vexo {
namespace core {

namespace {

constexpr std::size_t canvasPoolSize = 6;
constexpr auto selfPacingGrace = std::chrono::milliseconds(250);
// Auto levels follow the scene a few times a second: often enough to track a change of
// light, seldom enough that measuring costs nothing next to rendering.
constexpr auto autoLevelsPeriod = std::chrono::milliseconds(250);

} // namespace

SceneRendering::SceneRendering(SceneRing& sceneRing, const SceneVisualizerLink& visualizerLink,
                               std::function<bool()> grabbing)
    : ring(sceneRing)
    , link(visualizerLink)
    , isGrabbing(std::move(grabbing))
    , canvases(std::make_shared<CanvasPool>(canvasPoolSize))
    , lastRender(boost::make_shared<StopWatch>())
{
}

SceneRendering::~SceneRendering() = default;

void SceneRendering::stop()
{
    {
        MutexLocker lock(mutex);
        stopping = true;
    }
    wake.notify_all();
}

void SceneRendering::requestRender()
{
    {
        MutexLocker lock(mutex);
        // Only the first request since the render thread took the last one can find it
        // waiting for work; a fast camera would otherwise wake it for every frame.
        if (renderRequested)
            return;
        renderRequested = true;
    }
    wake.notify_all();
}

void SceneRendering::timerInterrupt()
{
    {
        MutexLocker lock(mutex);
        timerFired = true;
        interruptPending = false;
    }
    wake.notify_all();
}

void SceneRendering::changeView(const std::function<void(DisplayScene::View&)>& change)
{
    {
        MutexLocker lock(mutex);
        change(viewState);
    }
    requestRender();
}

DisplayScene::View SceneRendering::view() const
{
    MutexLocker lock(mutex);
    return viewState;
}

void SceneRendering::setRateLimit(double framesPerSecond)
{
    MutexLocker lock(mutex);
    minRenderInterval = framesPerSecond > 0 ? static_cast<std::uint64_t>(1e6 / framesPerSecond) : 0;
}

void SceneRendering::setShowArriving(bool show)
{
    {
        MutexLocker lock(mutex);
        showInProgress = show;
    }
    if (show)
        requestRender();
}

void SceneRendering::setLevels(const DisplayLevels& levels)
{
    {
        MutexLocker lock(mutex);
        if (levels == levelsState)
            return;
        levelsState = levels;
        levelsChanged = true;
        levelsRendered = false;
    }
    requestRender();
}

DisplayLevels SceneRendering::levels() const
{
    MutexLocker lock(mutex);
    return levelsState;
}

DisplayLevels::Range SceneRendering::levelsInUse(int bitsPerPixel) const
{
    MutexLocker lock(mutex);
    if (levelsRendered)
        return rangeInUse;
    if (levelsState.mode == DisplayLevels::Mode::Manual)
        return levelsState.manualRange();
    return DisplayLevels::defaultRange(bitsPerPixel);
}

std::uint64_t SceneRendering::canvasesAllocated() const
{
    return canvases->allocated();
}

void SceneRendering::loop()
{
    Work work;
    // A change of levels taken with work that is not rendered still counts for the next.
    bool levelsChangedSinceRender = false;
    while (waitForWork(&work)) {
        levelsChangedSinceRender = levelsChangedSinceRender || work.levelsChanged;
        work.levelsChanged = levelsChangedSinceRender;
        const DisplayScene::View& view = work.view;
        const bool grabbingNow = isGrabbing();
        if (!view.visible || view.canvasWidth <= 0 || view.canvasHeight <= 0 || !link.visualizer())
            continue;
        if (grabbingNow && tooEarly(work)) {
            waitForPace(work.interval); // the interrupt brings the render back
            continue;
        }
        renderOnce(work, grabbingNow);
        levelsChangedSinceRender = false;
    }
}

bool SceneRendering::waitForWork(Work* work)
{
    MutexLocker lock(mutex);
    while (!stopping && !renderRequested && !timerFired)
        lock.wait(wake);
    if (stopping)
        return false;
    work->fired = timerFired;
    timerFired = false;
    // The work takes the request with the view it was asked for, under one lock: a change
    // that comes after the view was read asks anew, and is rendered too.
    renderRequested = false;
    work->view = viewState;
    work->interval = minRenderInterval;
    work->levels = levelsState;
    work->levelsChanged = levelsChanged;
    levelsChanged = false;
    return true;
}

bool SceneRendering::tooEarly(const Work& work) const
{
    return !work.fired && renderedOnce && work.interval > 0 && lastRender->elapsedMicroseconds(false) < work.interval;
}

void SceneRendering::waitForPace(std::uint64_t interval)
{
    bool ask = false;
    {
        MutexLocker lock(mutex);
        ask = !interruptPending;
        interruptPending = true;
    }
    if (ask) {
        link.withVisualizer(
            [this, interval](DisplaySceneVisualizer& v) { v.requestTimedInterrupt(lastRender, interval); });
    }
    // Should no interrupt come (a visualizer without an event loop), the scene paces itself.
    MutexLocker lock(mutex);
    const auto due = std::chrono::steady_clock::now() + std::chrono::microseconds(interval) + selfPacingGrace;
    while (!stopping && !timerFired) {
        if (!lock.waitUntil(wake, due)) {
            timerFired = true;
            interruptPending = false;
        }
    }
}

boost::shared_ptr<FrameBuffer> SceneRendering::bufferToShow(const FrameBufferGroup& group, bool grabbingNow,
                                                            int selected) const
{
    bool inProgress;
    {
        MutexLocker lock(mutex);
        inProgress = showInProgress;
    }
    if (grabbingNow && inProgress) {
        if (boost::shared_ptr<FrameBuffer> arriving = group.bufferInProgress())
            return arriving;
    }
    const std::int64_t counter = group.frameCounter();
    const int size = group.size();
    if (!grabbingNow && selected >= 1 && selected <= size)
        return group.buffer(counter - size + selected - 1);
    return group.buffer(counter - 1);
}

const std::uint32_t* SceneRendering::levelsTable(const FrameBuffer& source, const DisplayLevels& levels, bool changed)
{
    const std::array<int, 4> shape{source.width(), source.height(), source.bitsPerPixel(), source.isGray() ? 1 : 0};
    const bool newShape = shape != measuredShape;
    measuredShape = shape;
    DisplayLevels::Range range = DisplayLevels::defaultRange(source.bitsPerPixel());
    const std::uint32_t* words = nullptr;
    if (levels.mode == DisplayLevels::Mode::Manual) {
        range = levels.manualRange();
        words = table.table(range, levels.gamma);
    } else if (levels.mode == DisplayLevels::Mode::Auto) {
        const auto now = std::chrono::steady_clock::now();
        if (changed || newShape)
            autoMeasured = false;
        if (!autoMeasured || now >= nextAutoMeasure) {
            DisplayLevels::Range measured;
            if (autoLevels.measure(source, levels.lowPercentile, levels.highPercentile, &measured)) {
                autoRange = measured;
                autoMeasured = true;
                nextAutoMeasure = now + autoLevelsPeriod;
            }
        }
        if (autoMeasured)
            range = autoRange;
        words = table.table(range, levels.gamma);
    }
    if (changed || range != publishedRange) {
        MutexLocker lock(mutex);
        // Levels set after this work was taken are not in use yet.
        if (levels == levelsState) {
            rangeInUse = range;
            levelsRendered = true;
        }
        publishedRange = range;
    }
    return words;
}

void SceneRendering::renderOnce(const Work& work, bool grabbingNow)
{
    const DisplayScene::View& view = work.view;
    std::uint64_t generation = 0;
    const boost::shared_ptr<FrameBufferGroup> group = ring.current(&generation);
    boost::shared_ptr<FrameBuffer> source = bufferToShow(*group, grabbingNow, view.selectedBuffer);
    if (!source)
        return;
    StopWatch renderWatch;
    const boost::shared_ptr<DisplaySceneFrame> frame = canvases->lend(view.canvasWidth, view.canvasHeight);
    SceneRenderer::View shown;
    shown.zoomStep = view.zoomStep;
    shown.offsetX = view.offsetX;
    shown.offsetY = view.offsetY;
    shown.grid = view.zoomGrid;
    shown.table = levelsTable(*source, work.levels, work.levelsChanged);
    SceneRenderer::render(*source, shown, *frame);
    frame->setFrameBuffer(source);
    frame->setRenderTimeInMicroseconds(renderWatch.elapsedMicroseconds(false));
    source.reset(); // the frame holds the lease now
    const double fps = countRender();
    // Not handed out when rendered from buffers that were replaced meanwhile.
    // Captures of two words at most: std::function keeps those without allocating.
    const auto notify = [&frame, fps](DisplaySceneVisualizer& v) { v.notifySceneFrameChanged(frame, fps); };
    ring.whileCurrent(generation, [this, &notify] { link.withVisualizer(notify); });
}

double SceneRendering::countRender()
{
    lastRender->restart();
    renderedOnce = true;
    const std::uint64_t now = StopWatch::nowMicroseconds();
    const std::size_t window = renderTimes.size();
    renderTimes[nextRenderTime] = now;
    nextRenderTime = (nextRenderTime + 1) % window;
    renderTimesKept = std::min(renderTimesKept + 1, window);
    const std::uint64_t oldest = renderTimes[(nextRenderTime + window - renderTimesKept) % window];
    ++rendered;
    const double span = renderTimesKept > 1 ? double(now - oldest) : 0.0;
    return span > 0 ? 1e6 * double(renderTimesKept - 1) / span : 0.0;
}

} // namespace core
} // namespace vexo
