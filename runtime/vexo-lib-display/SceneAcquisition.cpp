#include "vexo-lib-display/SceneAcquisition.h"

#include "vexo-lib-display/DisplaySceneVisualizer.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/SceneRecorder.h"
#include "vexo-lib-display/SceneRendering.h"
#include "vexo-lib-display/SceneRing.h"
#include "vexo-lib-display/SceneStatus.h"
#include "vexo-lib-display/SceneVisualizerLink.h"

namespace vexo {
namespace core {

SceneAcquisition::SceneAcquisition(FrameSource& frameSource, SceneRing& sceneRing,
                                   const SceneVisualizerLink& visualizerLink, SceneRendering& sceneRendering,
                                   SceneStatus& sceneStatus, SceneRecorder& sceneRecorder)
    : source(frameSource)
    , ring(sceneRing)
    , link(visualizerLink)
    , rendering(sceneRendering)
    , status(sceneStatus)
    , recorder(sceneRecorder)
{
}

void SceneAcquisition::stop()
{
    {
        MutexLocker lock(mutex);
        stopping = true;
    }
    source.cancel();
    wake.notify_all();
}

void SceneAcquisition::startGrabbing(int mode)
{
    // Without a ring there is nowhere to put a frame.
    const bool haveRing = ring.group()->capacity() > 0;
    {
        MutexLocker lock(mutex);
        if (grabbing.load() || stopping || !haveRing)
            return;
        grabMode = mode;
        grabRequested = true;
        grabbing = true;
    }
    wake.notify_all();
}

void SceneAcquisition::stopGrabbing(bool waitForEnd)
{
    {
        MutexLocker lock(mutex);
        grabRequested = false;
        // A start the acquisition thread has not taken up yet ends here, unnoticed.
        if (!runActive)
            grabbing = false;
    }
    source.cancel();
    wake.notify_all();
    if (!waitForEnd)
        return;
    MutexLocker lock(mutex);
    while (runActive || grabRequested)
        lock.wait(runEnded);
}

bool SceneAcquisition::changeFormat(const FrameFormat& format)
{
    // A ring that cannot fit is refused before anything changes.
    if (!ring.admits(format, source.format()) || !source.setFormat(format))
        return false;
    ring.invalidate();
    link.withVisualizer([](DisplaySceneVisualizer& v) { v.notifyFrameBuffersInvalidated(); });
    const bool made = ring.remake(source.format());
    link.withVisualizer([](DisplaySceneVisualizer& v) { v.notifyFrameBuffersAdded(); });
    rendering.requestRender();
    return made;
}

std::string SceneAcquisition::grabError() const
{
    MutexLocker lock(mutex);
    return grabProblem;
}

void SceneAcquisition::setGrabRefusedObserver(std::function<void(const std::string&)> observer)
{
    MutexLocker lock(refusedMutex);
    refusedObserver = std::move(observer);
}

void SceneAcquisition::loop()
{
    int mode = -1;
    while (waitForStart(&mode))
        finishRun(run(mode));
    {
        MutexLocker lock(mutex);
        runActive = false;
    }
    runEnded.notify_all();
}

bool SceneAcquisition::waitForStart(int* mode)
{
    MutexLocker lock(mutex);
    while (!stopping && !grabRequested)
        lock.wait(wake);
    if (stopping)
        return false;
    *mode = grabMode;
    runActive = true;
    return true;
}

bool SceneAcquisition::startSource()
{
    // The source first: a camera that is gone must not cost the frames already stored.
    const bool started = source.start();
    const std::string why = started ? std::string() : source.problem();
    MutexLocker lock(mutex);
    grabProblem = started || !why.empty() ? why : std::string("the source cannot start");
    return started;
}

bool SceneAcquisition::stillWanted() const
{
    MutexLocker lock(mutex);
    return grabRequested && !stopping;
}

bool SceneAcquisition::run(int mode)
{
    if (!startSource())
        return false;
    const boost::shared_ptr<FrameBufferGroup> group = ring.group();
    group->reset();
    link.withVisualizer([](DisplaySceneVisualizer& v) { v.notifyGrabbingStarted(); });
    status.wake();

    const int wanted = mode == 0 ? group->capacity() : mode == 1 ? 1 : -1;
    int stored = 0;
    std::int64_t frameIndex = 0;
    // Every commit of a counted run stays stored, so counting commits counts what it keeps.
    const FrameBufferGroup::Stored kept = wanted > 0 ? FrameBufferGroup::Stored::Kept : FrameBufferGroup::Stored::MayGo;
    while (stillWanted() && (wanted < 0 || stored < wanted)) {
        if (source.waitForFrame() != FrameSource::Delivery::Frame)
            break;
        if (storeFrame(*group, frameIndex++, kept, &stored) != FrameSource::Delivery::Frame)
            break;
    }
    source.stop();
    rendering.setShowArriving(false);
    return true;
}

FrameSource::Delivery SceneAcquisition::storeFrame(FrameBufferGroup& group, std::int64_t index,
                                                   FrameBufferGroup::Stored kept, int* stored)
{
    boost::shared_ptr<FrameBuffer> buffer = group.beginWrite(kept);
    if (!buffer)
        return dropFrame();
    buffer->setFrameIndex(index);
    status.setFrameArriving(true);
    const FrameSource::Delivery delivered = source.deliverFrame(buffer.get(), [this, &buffer](int lines) {
        // Lines of a slow frame are shown as they arrive.
        if (lines < buffer->height())
            rendering.setShowArriving(true);
    });
    status.setFrameArriving(false);
    if (delivered != FrameSource::Delivery::Frame) {
        group.abortWrite();
        return delivered;
    }
    group.commitWrite();
    ++acquired;
    ++*stored;
    rendering.setShowArriving(false);
    link.withVisualizer([&buffer](DisplaySceneVisualizer& v) { v.notifyBufferUpdated(buffer); });
    recorder.offer(buffer);
    buffer.reset();
    rendering.requestRender();
    return delivered;
}

FrameSource::Delivery SceneAcquisition::dropFrame()
{
    // No free buffer (or none a sequence may take), or a reader holds the group: the frame
    // goes, counted, and the status reports the overflow.
    const FrameSource::Delivery consumed = source.deliverFrame(nullptr, {});
    ++dropped;
    recorder.missed();
    status.overflowed();
    // A render hands the display the newest frame, so that it lets go of the one it holds.
    rendering.requestRender();
    return consumed;
}

void SceneAcquisition::finishRun(bool ran)
{
    std::string refusal;
    {
        MutexLocker lock(mutex);
        grabRequested = false;
        grabbing = false;
        if (!ran)
            refusal = grabProblem;
    }
    // Told before the run counts as ended, so that a format change waiting for the end is
    // announced after the stop. A refused start was never announced: the window keeps its
    // selector, picture and save buttons.
    if (ran)
        link.withVisualizer([](DisplaySceneVisualizer& v) { v.notifyGrabbingStopped(); });
    {
        MutexLocker lock(mutex);
        runActive = false;
    }
    runEnded.notify_all();
    status.wake();
    if (ran)
        rendering.requestRender();
    else
        tellRefused(refusal); // once the scene is idle again, so that the host sees it so
}

void SceneAcquisition::tellRefused(const std::string& reason)
{
    MutexLocker lock(refusedMutex);
    if (refusedObserver)
        refusedObserver(reason);
}

} // namespace core
} // namespace vexo
