#include "vexo-lib-display/SceneEngine.h"

#include "vexo-core/StopWatch.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/DisplaySceneVisualizer.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/SceneRenderer.h"
#include "vexo-lib-display/SystemMemory.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <new>
#include <stdexcept>

namespace vexo {
namespace core {

namespace {

constexpr std::size_t canvasPoolSize = 6;
constexpr std::size_t renderRateWindow = 16;
constexpr auto selfPacingGrace = std::chrono::milliseconds(250);
// Changes are reported at once, but not more often than this.
constexpr auto statusMinimumGap = std::chrono::milliseconds(20);

std::uint64_t ringBytes(const FrameFormat& format, int count)
{
    return SystemMemory::product(FrameBuffer::bytesFor(format.width, format.height, format.gray),
                                 static_cast<std::uint64_t>(count));
}

std::string ringText(const FrameFormat& format, int count)
{
    return std::to_string(count) + (count == 1 ? " buffer x " : " buffers x ")
           + SystemMemory::describe(FrameBuffer::bytesFor(format.width, format.height, format.gray))
           + " = " + SystemMemory::describe(ringBytes(format, count));
}

// Why a ring of `count` buffers cannot be held in `available` bytes; empty when it can.
std::string shortfall(const FrameFormat& format, int count, std::uint64_t available)
{
    if (ringBytes(format, count) <= available)
        return {};
    return "not enough memory for the frame buffers: " + ringText(format, count) + ", but "
           + SystemMemory::describe(available) + " are available";
}

// The ring, or an empty group and why not. The check comes first so that a size that
// cannot fit is never tried: the system would rather swap or kill than fail the allocation.
boost::shared_ptr<FrameBufferGroup> makeRing(const FrameFormat& format, int count,
                                             std::uint64_t available, std::string* problem)
{
    *problem = shortfall(format, count, available);
    if (!problem->empty())
        return FrameBufferGroup::createEmpty();
    try {
        return FrameBufferGroup::create(count, format.width, format.height, format.bitsPerPixel,
                                        format.gray);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    *problem = "cannot allocate the frame buffers: " + ringText(format, count);
    return FrameBufferGroup::createEmpty();
}

} // namespace

SceneEngine::SceneEngine(std::unique_ptr<FrameSource> source, int bufferCount)
    : frameSource(std::move(source))
    , requestedBuffers(std::max(bufferCount, 1))
    , buffers(makeRing(frameSource->format(), requestedBuffers, SystemMemory::available(), &ringProblem))
{
    frameSource->setRingCapacity(requestedBuffers);
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
    threads.emplace_back([self] { self->acquisitionLoop(); });
    threads.emplace_back([self] { self->renderLoop(); });
    threads.emplace_back([self] { self->statusLoop(); });
}

bool SceneEngine::onEngineThread() const
{
    const std::thread::id me = std::this_thread::get_id();
    return std::any_of(threads.begin(), threads.end(),
                       [me](const std::thread& t) { return t.get_id() == me; });
}

void SceneEngine::shutdown()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    frameSource->cancel();
    acquisitionWake.notify_all();
    renderWake.notify_all();
    statusWake.notify_all();
    const std::thread::id me = std::this_thread::get_id();
    for (std::thread& t : threads) {
        if (t.get_id() == me)
            t.detach();
        else if (t.joinable())
            t.join();
    }
}

// ---------------------------------------------------------------------------------------
// Visualizer

namespace {

// The engines whose callbacks are running on this thread, innermost last.
thread_local std::vector<const SceneEngine*> callbacksOnThisThread;

} // namespace

void SceneEngine::attach(DisplaySceneVisualizer* visualizer)
{
    {
        std::lock_guard<std::mutex> lock(visualizerMutex);
        attached = visualizer;
    }
    requestRender();
}

DisplaySceneVisualizer* SceneEngine::detach(DisplaySceneVisualizer* visualizer)
{
    std::unique_lock<std::mutex> lock(visualizerMutex);
    if (!visualizer || attached != visualizer)
        return nullptr;
    attached = nullptr; // no callback starts from now on
    // Wait for the callbacks running on other threads; those on this thread (a callback
    // that detaches) cannot end before this returns.
    const int own = static_cast<int>(
        std::count(callbacksOnThisThread.begin(), callbacksOnThisThread.end(), this));
    callbacksDone.wait(lock, [this, own] { return activeCallbacks <= own; });
    return visualizer;
}

DisplaySceneVisualizer* SceneEngine::visualizer() const
{
    std::lock_guard<std::mutex> lock(visualizerMutex);
    return attached;
}

bool SceneEngine::withVisualizer(const std::function<void(DisplaySceneVisualizer&)>& f) const
{
    DisplaySceneVisualizer* target;
    {
        std::lock_guard<std::mutex> lock(visualizerMutex);
        target = attached;
        if (!target)
            return false;
        ++activeCallbacks;
    }
    callbacksOnThisThread.push_back(this);
    struct Done
    {
        const SceneEngine* engine;
        ~Done()
        {
            callbacksOnThisThread.pop_back();
            {
                std::lock_guard<std::mutex> lock(engine->visualizerMutex);
                --engine->activeCallbacks;
            }
            engine->callbacksDone.notify_all();
        }
    } done{this};
    f(*target);
    return true;
}

// ---------------------------------------------------------------------------------------
// Steering

void SceneEngine::startGrabbing(int mode)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        // Without a ring there is nowhere to put a frame.
        if (grabbing.load() || stopping || buffers->capacity() == 0)
            return;
        grabMode = mode;
        grabRequested = true;
        grabbing = true;
    }
    acquisitionWake.notify_all();
}

void SceneEngine::stopGrabbing(bool waitForEnd)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        grabRequested = false;
        // A start the acquisition thread has not taken up yet ends here, unnoticed.
        if (!runActive)
            grabbing = false;
    }
    frameSource->cancel();
    acquisitionWake.notify_all();
    if (waitForEnd && !onEngineThread()) {
        std::unique_lock<std::mutex> lock(mutex);
        runEnded.wait(lock, [this] { return !runActive && !grabRequested; });
    }
}

bool SceneEngine::isGrabbing() const
{
    return grabbing.load();
}

FrameFormat SceneEngine::format() const
{
    return frameSource->format();
}

bool SceneEngine::setFormat(const FrameFormat& format)
{
    stopGrabbing(true);
    // The old ring goes before the new one is made, so its bytes count as available.
    const std::uint64_t released = ringBytes(frameSource->format(), group()->capacity());
    const std::uint64_t available = SystemMemory::available();
    const std::string refusal = shortfall(
        format, requestedBuffers,
        available > std::numeric_limits<std::uint64_t>::max() - released ? std::numeric_limits<std::uint64_t>::max()
                                                                         : available + released);
    if (!refusal.empty()) {
        // Nothing changes: the old format and ring stay.
        std::lock_guard<std::mutex> lock(mutex);
        ringProblem = refusal;
        return false;
    }
    if (!frameSource->setFormat(format))
        return false;
    {
        // A frame rendered from the old buffers is either handed to the visualizer before
        // it hears of the invalidation, or not at all: a render that reads the new
        // generation can only find the new (here: empty) group, so generation and group
        // change together.
        std::unique_lock<std::shared_mutex> gate(notifyGate);
        std::lock_guard<std::mutex> lock(mutex);
        ++bufferGeneration;
        buffers = FrameBufferGroup::createEmpty();
    }
    withVisualizer([](DisplaySceneVisualizer& v) { v.notifyFrameBuffersInvalidated(); });
    // Allocated outside the lock: the other threads see the empty group meanwhile.
    std::string problem;
    const boost::shared_ptr<FrameBufferGroup> ring =
        makeRing(frameSource->format(), requestedBuffers, std::numeric_limits<std::uint64_t>::max(), &problem);
    {
        std::lock_guard<std::mutex> lock(mutex);
        buffers = ring;
        ringProblem = problem;
    }
    withVisualizer([](DisplaySceneVisualizer& v) { v.notifyFrameBuffersAdded(); });
    requestRender();
    return problem.empty();
}

std::string SceneEngine::ringError() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return ringProblem;
}

std::string SceneEngine::grabError() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return grabProblem;
}

void SceneEngine::setGrabRefusedObserver(std::function<void(const std::string&)> observer)
{
    std::lock_guard<std::mutex> lock(refusedMutex);
    refusedObserver = std::move(observer);
}

void SceneEngine::changeView(const std::function<void(DisplayScene::View&)>& change)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        change(viewState);
    }
    requestRender();
}

DisplayScene::View SceneEngine::view() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return viewState;
}

int SceneEngine::validBufferCount() const
{
    return group()->size();
}

void SceneEngine::timerInterrupt()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        timerFired = true;
        interruptPending = false;
    }
    renderWake.notify_all();
}

void SceneEngine::invalidate()
{
    requestRender();
}

void SceneEngine::setStatusPeriod(int milliseconds)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        statusPeriodMilliseconds = std::max(milliseconds, 0);
        periodChanged = true;
    }
    statusWake.notify_all();
}

void SceneEngine::setRenderRateLimit(double framesPerSecond)
{
    std::lock_guard<std::mutex> lock(mutex);
    minRenderInterval = framesPerSecond > 0 ? static_cast<std::uint64_t>(1e6 / framesPerSecond) : 0;
}

boost::shared_ptr<FrameBufferGroup> SceneEngine::group() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return buffers;
}

DisplayScene::Statistics SceneEngine::statistics() const
{
    DisplayScene::Statistics s;
    s.framesAcquired = acquiredFrames.load();
    s.framesDropped = droppedFrames.load();
    s.framesRendered = renderedFrames.load();
    s.framesRecycled = recycledFrames.load();
    s.canvasesAllocated = allocatedCanvases.load();
    return s;
}

void SceneEngine::requestRender()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        renderRequested = true;
    }
    renderWake.notify_all();
}

void SceneEngine::wakeStatus()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        statusChanged = true;
    }
    statusWake.notify_all();
}

void SceneEngine::report(SceneCall::Operation operation, std::int64_t a, std::int64_t b,
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

void SceneEngine::setCallObserver(std::function<void(const SceneCall&)> observer)
{
    std::lock_guard<std::mutex> lock(observerMutex);
    callObserver = std::move(observer);
}

// ---------------------------------------------------------------------------------------
// Acquisition thread

void SceneEngine::acquisitionLoop()
{
    for (;;) {
        int mode;
        {
            std::unique_lock<std::mutex> lock(mutex);
            acquisitionWake.wait(lock, [this] { return stopping || grabRequested; });
            if (stopping)
                break;
            mode = grabMode;
            runActive = true;
        }
        const bool ran = runAcquisition(mode);
        std::string refusal;
        {
            std::lock_guard<std::mutex> lock(mutex);
            grabRequested = false;
            grabbing = false;
            if (!ran)
                refusal = grabProblem;
        }
        // Told before the run counts as ended, so that a format change waiting for the
        // end is announced after the stop. A refused start was never announced: the
        // window keeps its selector, picture and save buttons.
        if (ran)
            withVisualizer([](DisplaySceneVisualizer& v) { v.notifyGrabbingStopped(); });
        {
            std::lock_guard<std::mutex> lock(mutex);
            runActive = false;
        }
        runEnded.notify_all();
        wakeStatus();
        if (ran) {
            requestRender();
        } else {
            // Once the scene is idle again, so that the host sees it so.
            std::lock_guard<std::mutex> lock(refusedMutex);
            if (refusedObserver)
                refusedObserver(refusal);
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    runActive = false;
    runEnded.notify_all();
}

bool SceneEngine::runAcquisition(int mode)
{
    // The source first: a camera that is gone must not cost the frames already stored.
    if (!frameSource->start()) {
        std::string why = frameSource->problem();
        std::lock_guard<std::mutex> lock(mutex);
        grabProblem = why.empty() ? std::string("the source cannot start") : why;
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        grabProblem.clear();
    }
    const boost::shared_ptr<FrameBufferGroup> ring = group();
    ring->reset();
    withVisualizer([](DisplaySceneVisualizer& v) { v.notifyGrabbingStarted(); });
    wakeStatus();

    const int wanted = mode == 0 ? ring->capacity() : mode == 1 ? 1 : -1;
    int stored = 0;
    std::int64_t frameIndex = 0;
    const auto stillWanted = [this] {
        std::lock_guard<std::mutex> lock(mutex);
        return grabRequested && !stopping;
    };

    while (stillWanted() && (wanted < 0 || stored < wanted)) {
        if (frameSource->waitForFrame() != FrameSource::Delivery::Frame)
            break;
        boost::shared_ptr<FrameBuffer> buffer = ring->beginWrite();
        if (!buffer) {
            // No free buffer, or a reader holds the group: the frame goes, counted, and the
            // status reports the overflow. Acquisition never waits for a reader.
            const FrameSource::Delivery consumed = frameSource->deliverFrame(nullptr, {});
            ++frameIndex;
            ++droppedFrames;
            overflowPending = true;
            wakeStatus();
            if (consumed != FrameSource::Delivery::Frame)
                break;
            continue;
        }
        buffer->setFrameIndex(frameIndex++);
        frameInProgress = true;
        const FrameSource::Delivery delivered = frameSource->deliverFrame(
            buffer.get(), [this, &buffer](int lines) {
                // Lines of a slow frame are shown as they arrive.
                if (lines < buffer->height()) {
                    {
                        std::lock_guard<std::mutex> lock(mutex);
                        showInProgress = true;
                    }
                    requestRender();
                }
            });
        frameInProgress = false;
        if (delivered != FrameSource::Delivery::Frame) {
            ring->abortWrite();
            break;
        }
        ring->commitWrite();
        ++acquiredFrames;
        ++stored;
        {
            std::lock_guard<std::mutex> lock(mutex);
            showInProgress = false;
        }
        withVisualizer([&buffer](DisplaySceneVisualizer& v) { v.notifyBufferUpdated(buffer); });
        buffer.reset();
        requestRender();
    }
    frameSource->stop();
    std::lock_guard<std::mutex> lock(mutex);
    showInProgress = false;
    return true;
}

// ---------------------------------------------------------------------------------------
// Render thread

boost::shared_ptr<FrameBuffer> SceneEngine::bufferToShow(bool grabbingNow, int selected) const
{
    const boost::shared_ptr<FrameBufferGroup> ring = group();
    bool inProgress;
    {
        std::lock_guard<std::mutex> lock(mutex);
        inProgress = showInProgress;
    }
    if (grabbingNow && inProgress) {
        if (boost::shared_ptr<FrameBuffer> arriving = ring->bufferInProgress())
            return arriving;
    }
    const std::int64_t counter = ring->frameCounter();
    const int size = ring->size();
    if (!grabbingNow && selected >= 1 && selected <= size)
        return ring->buffer(counter - size + selected - 1);
    return ring->buffer(counter - 1);
}

boost::shared_ptr<DisplaySceneFrame> SceneEngine::canvasFor(int width, int height)
{
    // A pooled canvas is free once nobody but the pool holds it: the visualizer keeps the
    // frames it shows, and those keep their canvases.
    for (const boost::shared_ptr<DisplaySceneFrame>& frame : canvasPool)
        if (frame.use_count() == 1 && frame->width() == width && frame->height() == height)
            return frame;
    boost::shared_ptr<DisplaySceneFrame> fresh(new DisplaySceneFrame(width, height));
    ++allocatedCanvases;
    auto reusable = std::find_if(canvasPool.begin(), canvasPool.end(),
                                 [](const boost::shared_ptr<DisplaySceneFrame>& f) {
                                     return f.use_count() == 1;
                                 });
    if (reusable != canvasPool.end())
        *reusable = fresh; // a canvas of an old size makes room
    else if (canvasPool.size() < canvasPoolSize)
        canvasPool.push_back(fresh);
    return fresh;
}

void SceneEngine::renderLoop()
{
    for (;;) {
        DisplayScene::View view;
        bool fired;
        std::uint64_t interval;
        {
            std::unique_lock<std::mutex> lock(mutex);
            renderWake.wait(lock, [this] { return stopping || renderRequested || timerFired; });
            if (stopping)
                break;
            fired = timerFired;
            timerFired = false;
            if (!renderRequested && fired)
                renderRequested = true; // a paced render is due now
            view = viewState;
            interval = minRenderInterval;
        }
        const bool grabbingNow = grabbing.load();
        if (!view.visible || view.canvasWidth <= 0 || view.canvasHeight <= 0 || !visualizer()) {
            std::lock_guard<std::mutex> lock(mutex);
            renderRequested = false;
            continue;
        }

        // While grabbing, renders are paced: one that comes too early asks the visualizer
        // to wake the scene once the interval has passed.
        if (grabbingNow && !fired && lastRender && interval > 0
            && lastRender->elapsedMicroseconds(false) < interval) {
            bool ask = false;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (!interruptPending) {
                    interruptPending = true;
                    ask = true;
                }
            }
            if (ask) {
                const boost::shared_ptr<StopWatch> since = lastRender;
                withVisualizer([since, interval](DisplaySceneVisualizer& v) {
                    v.requestTimedInterrupt(since, interval);
                });
            }
            // The request stays set; the timer interrupt brings it back. Should no interrupt
            // come (a visualizer without an event loop), the scene paces itself.
            std::unique_lock<std::mutex> lock(mutex);
            const auto fallback = std::chrono::microseconds(interval) + selfPacingGrace;
            if (!renderWake.wait_for(lock, fallback, [this] { return stopping || timerFired; })) {
                timerFired = true;
                interruptPending = false;
            }
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            renderRequested = false;
        }

        std::uint64_t generation;
        {
            std::lock_guard<std::mutex> lock(mutex);
            generation = bufferGeneration;
        }
        boost::shared_ptr<FrameBuffer> source = bufferToShow(grabbingNow, view.selectedBuffer);
        if (!source)
            continue;
        StopWatch renderWatch;
        boost::shared_ptr<DisplaySceneFrame> frame = canvasFor(view.canvasWidth, view.canvasHeight);
        SceneRenderer::View rendered;
        rendered.zoomStep = view.zoomStep;
        rendered.offsetX = view.offsetX;
        rendered.offsetY = view.offsetY;
        rendered.grid = view.zoomGrid;
        SceneRenderer::render(*source, rendered, *frame);
        frame->setFrameBuffer(source);
        frame->setRenderTimeInMicroseconds(renderWatch.elapsedMicroseconds(false));
        source.reset();

        lastRender.reset(new StopWatch);
        const std::uint64_t now = StopWatch::nowMicroseconds();
        renderTimes.push_back(now);
        if (renderTimes.size() > renderRateWindow)
            renderTimes.pop_front();
        const double span = renderTimes.size() > 1 ? double(now - renderTimes.front()) : 0.0;
        const double fps = span > 0 ? 1e6 * double(renderTimes.size() - 1) / span : 0.0;
        ++renderedFrames;

        std::shared_lock<std::shared_mutex> gate(notifyGate);
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (generation != bufferGeneration)
                continue; // rendered from buffers that have been replaced meanwhile
        }
        withVisualizer([&frame, fps](DisplaySceneVisualizer& v) { v.notifySceneFrameChanged(frame, fps); });
    }
}

// ---------------------------------------------------------------------------------------
// Status thread

void SceneEngine::statusLoop()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            const auto woken = [this] { return stopping || statusChanged || periodChanged; };
            if (statusPeriodMilliseconds > 0)
                statusWake.wait_for(lock, std::chrono::milliseconds(statusPeriodMilliseconds), woken);
            else
                statusWake.wait(lock, woken);
            if (stopping)
                break;
            if (periodChanged && !statusChanged) {
                // A new period starts now; nothing to report yet.
                periodChanged = false;
                continue;
            }
            periodChanged = false;
            if (statusChanged) {
                // A burst of changes (frames dropped at a high rate) makes one report.
                statusWake.wait_for(lock, statusMinimumGap, [this] { return stopping; });
                if (stopping)
                    break;
            }
            statusChanged = false;
        }
        const FrameSource::Status source = frameSource->status();
        const bool arriving = frameInProgress.load();
        bool overflow = overflowPending.exchange(false);
        if (source.framesLost != sourceLostSeen) {
            sourceLostSeen = source.framesLost;
            overflow = true;
        }
        const boost::shared_ptr<FrameBufferGroup> ring = group();
        // The share of the ring that the next frame cannot go into: 100 % means frames
        // are being dropped.
        const int percent = ring->capacity() > 0 ? ring->busyCount() * 100 / ring->capacity() : 0;
        const int step = std::min(3, percent / 25);
        withVisualizer([&](DisplaySceneVisualizer& v) {
            v.notifyCameraStatusUpdate(source.clock, arriving, arriving, source.exsync, source.extrg,
                                       overflow, step, percent);
        });
    }
}

} // namespace core
} // namespace vexo
