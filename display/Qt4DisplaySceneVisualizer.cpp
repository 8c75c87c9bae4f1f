#include "display/Qt4DisplaySceneVisualizer.h"

#include "display/CameraStatusUpdateEvent.h"
#include "display/Qt4DisplaySceneVisualizerD.h"
#include "display/RequestTimedInterruptEvent.h"
#include "display/SceneEventTypes.h"
#include "frame/HandOverAnnotations.h"
#include "frame/Logger.h"
#include "frame/Logging.h"
#include "frame/SpinLockVariableGuard.h"
#include "linehistogram/Qt4LineHistogramDialog.h"
#include "lineprofile/Qt4LineProfileDialog.h"

#include "vexo-core/StopWatch.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDockWidget>
#include <QLabel>
#include <QPixmap>

namespace vexo {
namespace core {

using vexo::templates::platform::SpinLockVariableGuard;

namespace {

// Posts one of the window's own events from any thread.
void postToWindow(QObject* window, QEvent* e, Qt::EventPriority priority)
{
    vexo::templates::platform::announceHandOver(e);
    QCoreApplication::postEvent(window, e, priority);
}

} // namespace

// ---------------------------------------------------------------------------------------
// The host's switches and the logger

void Qt4DisplaySceneVisualizer::enableCloseEventSignal(bool enabled)
{
    d->closeEventSignal = enabled;
}

void Qt4DisplaySceneVisualizer::enableCameraClockSignal(bool enabled)
{
    d->cameraClockSignal = enabled;
}

void Qt4DisplaySceneVisualizer::enableGrabSignals(bool enabled)
{
    d->grabSignals = enabled;
}

void Qt4DisplaySceneVisualizer::enableExternalButtonControl(bool enabled)
{
    d->externalButtonControl = enabled;
}

vexo::tools::logging::Logger& Qt4DisplaySceneVisualizer::getDefaultLogger() const
{
    if (!defaultLogger)
        defaultLogger = vexo::tools::logging::Logging::instance()->getLogger("vexo.core.Qt4DisplaySceneVisualizer");
    return *defaultLogger;
}

// ---------------------------------------------------------------------------------------
// Scene callbacks. Scene threads, except notifySceneAttached and notifySourcesConnected.

void Qt4DisplaySceneVisualizer::notifySceneAttached()
{
    boost::shared_ptr<DisplayScene> attached = scene();
    if (!attached)
        return;
    const bool grabbing = attached->isGrabbing();
    d->setAcquisitionButtons(!grabbing, grabbing);
    if (d->grabSignals)
        emit grabButtonStatusUpdated();
    frameBufferSlider->setEnabled(!grabbing);
    frameBufferSpinBox->setEnabled(!grabbing);
    d->sceneWidth = attached->width();
    d->sceneHeight = attached->height();
    d->updateScrollBars();
}

void Qt4DisplaySceneVisualizer::notifySceneFrameChanged(boost::shared_ptr<DisplaySceneFrame> frame, double renderFps)
{
    boost::shared_ptr<DisplayScene> attached = scene();
    if (!attached)
        return; // the frame is released with the argument

    boost::shared_ptr<DisplaySceneFrame> replaced;
    {
        SpinLockVariableGuard guard(&d->frameLock);
        replaced.swap(d->pendingFrame);
        d->pendingFrame = std::move(frame);
        d->pendingRenderFps = renderFps;
    }
    replaced.reset(); // outside the lock; never handed to freeSceneFrame

    // While grabbing, one queued event is enough: it shows whatever frame is pending then.
    if (d->frameEventPending.load() && attached->isGrabbing())
        return;
    d->frameEventPending.store(true);
    postToWindow(this, new QEvent(SceneEventTypes::sceneFrameChanged), Qt::HighEventPriority);
}

void Qt4DisplaySceneVisualizer::notifyGrabbingStarted()
{
    postToWindow(this, new QEvent(SceneEventTypes::grabbingStarted), Qt::NormalEventPriority);
}

void Qt4DisplaySceneVisualizer::notifyGrabbingStopped()
{
    postToWindow(this, new QEvent(SceneEventTypes::grabbingStopped), Qt::NormalEventPriority);
}

void Qt4DisplaySceneVisualizer::notifyBufferUpdated(boost::shared_ptr<FrameBuffer> buffer)
{
    {
        SpinLockVariableGuard guard(&d->bufferLock);
        D::BufferRingEntry& entry = d->bufferRing[d->bufferCount.load() % D::bufferRingSize];
        entry.frameIndex = buffer->frameIndex();
        entry.timestamp = buffer->timestamp();
        d->bufferCount.fetch_add(1);
    }
    buffer.reset();
}

void Qt4DisplaySceneVisualizer::notifyCameraStatusUpdate(bool cameraClock, bool fval, bool lval, bool exsync,
                                                         bool extrg, bool bufferOverflow, int fillLevelStep,
                                                         int fillLevelPercent)
{
    postToWindow(this,
                 new CameraStatusUpdateEvent(SceneEventTypes::cameraStatusUpdate, cameraClock, fval, lval, exsync,
                                             extrg, bufferOverflow, fillLevelStep, fillLevelPercent),
                 Qt::HighEventPriority);
}

void Qt4DisplaySceneVisualizer::notifySourcesConnected(bool connected)
{
    d->sourcesConnected = connected;
    d->clockLabel->setPixmap(QPixmap(d->cameraClockOn || d->sourcesConnected
                                         ? QStringLiteral(":/display-qt4/clock_on.png")
                                         : QStringLiteral(":/display-qt4/clock_off.png")));
}

void Qt4DisplaySceneVisualizer::notifyFrameBuffersInvalidated()
{
    // No worker may still read pixels of the buffers that are going away.
    d->lineProfileDialog->waitForThread();
    d->lineHistogramDialog->waitForThread();
    postToWindow(this, new QEvent(SceneEventTypes::frameBuffersInvalidated), Qt::HighEventPriority);
}

void Qt4DisplaySceneVisualizer::notifyFrameBuffersAdded()
{
    postToWindow(this, new QEvent(SceneEventTypes::frameBuffersAdded), Qt::HighEventPriority);
}

void Qt4DisplaySceneVisualizer::requestTimedInterrupt(boost::shared_ptr<StopWatch> stopWatch,
                                                      std::uint64_t microseconds)
{
    postToWindow(this, new RequestTimedInterruptEvent(SceneEventTypes::requestTimedInterrupt, stopWatch, microseconds),
                 Qt::HighEventPriority);
}

void Qt4DisplaySceneVisualizer::notifyCanvasMousePosition(const QPoint& position)
{
    d->canvasMousePosition = position;
    updateMouseData();
}

// ---------------------------------------------------------------------------------------
// Event dispatch (GUI thread)

bool Qt4DisplaySceneVisualizer::event(QEvent* e)
{
    vexo::templates::platform::acceptHandOver(e);
    const QEvent::Type type = e->type();
    if (type == SceneEventTypes::sceneFrameChanged) {
        processSceneFrameChanged();
        return true;
    }
    if (type == SceneEventTypes::requestTimedInterrupt) {
        RequestTimedInterruptEvent* request = static_cast<RequestTimedInterruptEvent*>(e);
        processRequestTimedInterrupt(request->stopWatch, request->microseconds);
        return true;
    }
    if (type == SceneEventTypes::cameraStatusUpdate) {
        CameraStatusUpdateEvent* status = static_cast<CameraStatusUpdateEvent*>(e);
        processCameraStatusUpdate(status->cameraClock, status->fval, status->lval, status->exsync, status->extrg,
                                  status->bufferOverflow, status->fillLevelStep, status->fillLevelPercent);
        return true;
    }
    if (type == SceneEventTypes::grabbingStarted) {
        processGrabbingStarted();
        return true;
    }
    if (type == SceneEventTypes::grabbingStopped) {
        processGrabbingStopped();
        return true;
    }
    if (type == SceneEventTypes::frameBuffersInvalidated) {
        processFrameBuffersInvalidated();
        return true;
    }
    if (type == SceneEventTypes::frameBuffersAdded) {
        processFrameBuffersAdded();
        return true;
    }
    // QWidget's, not QMainWindow's, on purpose: kept for compatibility with the fixed surface.
    return QWidget::event(e);
}

// ---------------------------------------------------------------------------------------
// Window events (GUI thread)

void Qt4DisplaySceneVisualizer::closeEvent(QCloseEvent* e)
{
    if (!d->closeEventSignal) {
        QWidget::closeEvent(e);
        return;
    }
    emit closeRequested();
    emit closeRequestedWithData(d->boardIndex, d->dmaIndex);
    e->ignore();
}

void Qt4DisplaySceneVisualizer::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    updateVisualizerVisibility();
}

void Qt4DisplaySceneVisualizer::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    updateVisualizerVisibility();
}

void Qt4DisplaySceneVisualizer::toggleLineProfileVisibility()
{
    d->lineProfileDock->setVisible(!d->lineProfileDock->isVisible());
    updateVisualizerVisibility();
}

void Qt4DisplaySceneVisualizer::toggleLineHistogramVisibility()
{
    d->lineHistogramDock->setVisible(!d->lineHistogramDock->isVisible());
    updateVisualizerVisibility();
}

void Qt4DisplaySceneVisualizer::updateVisualizerVisibility()
{
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->setVisualizerVisible(isVisible() || d->lineProfileDock->isVisible()
                                       || d->lineHistogramDock->isVisible());
}

} // namespace core
} // namespace vexo
