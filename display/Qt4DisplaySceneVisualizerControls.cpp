// Acquisition controls: the grab and stop buttons, the host's control of their states,
// the frame buffer selector and the grabbing notifications (GUI thread).

#include "display/Qt4DisplaySceneVisualizer.h"
#include "display/Qt4DisplaySceneVisualizerD.h"
#include "frame/SpinLockVariableGuard.h"
#include "linehistogram/Qt4LineHistogramDialog.h"
#include "lineprofile/Qt4LineProfileDialog.h"

#include "vexo-core/VelmarApplication.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/DisplaySceneFrame.h"

#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>

namespace vexo {
namespace core {

using vexo::templates::platform::SpinLockVariableGuard;

namespace {

QIcon grabIcon(const char* name, bool sourcesDetected)
{
    return QIcon(QPixmap(QStringLiteral(":/display-qt4/%1%2.png")
                             .arg(QLatin1String(name), sourcesDetected ? QString() : QStringLiteral("_no_source"))));
}

} // namespace

void Qt4DisplaySceneVisualizer::D::setAcquisitionButtons(bool grabAllowed, bool stopAllowed) const
{
    window->localSettingsButton->setEnabled(grabAllowed);
    window->grabInfiniteButton->setEnabled(grabAllowed);
    window->grabSequenceButton->setEnabled(grabAllowed);
    window->grabSingleButton->setEnabled(grabAllowed);
    window->stopButton->setEnabled(stopAllowed);
}

void Qt4DisplaySceneVisualizer::D::setBufferSelectors(int minimum, int maximum, int step, int value) const
{
    QSlider* slider = window->frameBufferSlider;
    QSpinBox* spinBox = window->frameBufferSpinBox;
    const QSignalBlocker sliderBlocker(slider);
    const QSignalBlocker spinBoxBlocker(spinBox);
    slider->setMinimum(minimum);
    slider->setMaximum(maximum);
    slider->setSingleStep(step);
    slider->setPageStep(step);
    slider->setValue(value);
    spinBox->setMinimum(minimum);
    spinBox->setMaximum(maximum);
    spinBox->setSingleStep(step);
    spinBox->setValue(value);
}

void Qt4DisplaySceneVisualizer::grabPressed(void (Qt4DisplaySceneVisualizer::*signal)(), int mode)
{
    // Read at every press, so that the host's menu takes effect at once.
    const bool detectionDisabled =
        VelmarApplication::getConfigIntEntry("gui.mainwindow.disable_source_detection", 0) != 0;
    if (d->externalButtonControl && !d->sourcesDetected && !detectionDisabled) {
        display_no_source_detected_messagebox();
        return;
    }
    if (d->grabSignals) {
        emit(this->*signal)();
        return;
    }
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->startGrabbing(mode);
}

void Qt4DisplaySceneVisualizer::display_no_source_detected_messagebox()
{
    QMessageBox::warning(this, QStringLiteral("No source detected."),
                         QStringLiteral("Acquisition not started because some sources (camera or "
                                        "simulator) were not detected. For disabling source "
                                        "detection use menu entry \"Synchronization -> Disable "
                                        "Source Detection\"."),
                         QMessageBox::Ok, QMessageBox::NoButton);
}

void Qt4DisplaySceneVisualizer::internalGrabInfiniteButtonClicked()
{
    grabPressed(&Qt4DisplaySceneVisualizer::grabInfiniteButtonClicked, -1);
}

void Qt4DisplaySceneVisualizer::internalGrabSequenceButtonClicked()
{
    grabPressed(&Qt4DisplaySceneVisualizer::grabSequenceButtonClicked, 0);
}

void Qt4DisplaySceneVisualizer::internalGrabSingleButtonClicked()
{
    grabPressed(&Qt4DisplaySceneVisualizer::grabSingleButtonClicked, 1);
}

void Qt4DisplaySceneVisualizer::internalStopButtonClicked()
{
    if (d->grabSignals) {
        emit stopButtonClicked();
        return;
    }
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->stopGrabbing();
}

void Qt4DisplaySceneVisualizer::internalLocalSettingsButtonClicked()
{
    emit localSettingsButtonClicked();
}

void Qt4DisplaySceneVisualizer::applyDmaConnectionToControlButtons(bool sourcesDetected, bool acquisitionRunning,
                                                                   bool controlsLocked)
{
    d->setAcquisitionButtons(!acquisitionRunning && !controlsLocked, acquisitionRunning && !controlsLocked);
    grabInfiniteButton->setIcon(grabIcon("grab_infinite", sourcesDetected));
    grabSequenceButton->setIcon(grabIcon("grab_sequence", sourcesDetected));
    grabSingleButton->setIcon(grabIcon("grab_single", sourcesDetected));
    d->sourcesDetected = sourcesDetected;
}

bool Qt4DisplaySceneVisualizer::hasValidBuffersOrIsAcquisitionRunning()
{
    boost::shared_ptr<DisplayScene> attached = scene();
    if (!attached)
        return false;
    if (d->grabbing)
        return true;
    return attached->getValidBufferCount() > 0;
}

void Qt4DisplaySceneVisualizer::activateFrameBufferControls()
{
    boost::shared_ptr<DisplayScene> attached = scene();
    if (!attached)
        return;
    frameBufferSlider->setEnabled(true);
    frameBufferSpinBox->setEnabled(true);
    d->validBufferCount = attached->getValidBufferCount();
    if (d->validBufferCount == 0)
        return;
    saveFrameButton->setEnabled(true);
    saveSequenceButton->setEnabled(true);
    d->setBufferSelectors(1, d->validBufferCount, 1, d->validBufferCount);
    attached->setBuffer(d->validBufferCount);
}

void Qt4DisplaySceneVisualizer::deactivateFrameBufferControls()
{
    saveFrameButton->setEnabled(false);
    saveSequenceButton->setEnabled(false);
    frameBufferSlider->setEnabled(false);
    frameBufferSpinBox->setEnabled(false);
    d->setBufferSelectors(0, 0, 0, 0);
}

void Qt4DisplaySceneVisualizer::frameBufferValueChanged(int value)
{
    {
        const QSignalBlocker sliderBlocker(frameBufferSlider);
        const QSignalBlocker spinBoxBlocker(frameBufferSpinBox);
        frameBufferSlider->setValue(value);
        frameBufferSpinBox->setValue(value);
    }
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->setBuffer(value);
}

void Qt4DisplaySceneVisualizer::processGrabbingStarted()
{
    d->renderedFrames = 0;
    {
        SpinLockVariableGuard guard(&d->bufferLock);
        d->bufferCount.store(0);
        d->grabbing = true;
    }
    updateDisplayFps();
    if (!d->externalButtonControl)
        d->setAcquisitionButtons(false, true);
    if (d->grabSignals)
        emit grabButtonStatusUpdated();
    deactivateFrameBufferControls();
    canvasWidget->setSceneFrame(boost::shared_ptr<DisplaySceneFrame>());
    d->lineProfileDialog->setSceneFrame(boost::shared_ptr<DisplaySceneFrame>());
    d->lineHistogramDialog->setSceneFrame(boost::shared_ptr<DisplaySceneFrame>());
    updateRenderTime(false, 0);
    updateDisplayFps();
    updateMouseData();
}

void Qt4DisplaySceneVisualizer::processGrabbingStopped()
{
    d->renderedFrames = 0;
    {
        SpinLockVariableGuard guard(&d->bufferLock);
        d->bufferCount.store(0);
        d->grabbing = false;
    }
    if (!d->externalButtonControl)
        d->setAcquisitionButtons(true, false);
    if (d->grabSignals)
        emit grabButtonStatusUpdated();
    activateFrameBufferControls();
    updateDisplayFps();
}

void Qt4DisplaySceneVisualizer::processFrameBuffersAdded()
{
    if (boost::shared_ptr<DisplayScene> attached = scene()) {
        d->sceneWidth = attached->width();
        d->sceneHeight = attached->height();
        d->updateScrollBars();
    }
}

void Qt4DisplaySceneVisualizer::processFrameBuffersInvalidated()
{
    d->currentFrameBuffer.reset();
    canvasWidget->setSceneFrame(boost::shared_ptr<DisplaySceneFrame>());
    d->lineProfileDialog->setSceneFrame(boost::shared_ptr<DisplaySceneFrame>());
    d->lineHistogramDialog->setSceneFrame(boost::shared_ptr<DisplaySceneFrame>());
    updateRenderTime(false, 0);
    d->renderedFrames = 0;
    {
        SpinLockVariableGuard guard(&d->bufferLock);
        d->bufferCount.store(0);
        d->grabbing = false;
    }
    d->validBufferCount = 0; // a frame rendered from the old buffers and still queued is not shown
    deactivateFrameBufferControls();
    updateDisplayFps();
    d->sceneWidth = 0;
    d->sceneHeight = 0;
    d->updateScrollBars();
}

} // namespace core
} // namespace vexo
