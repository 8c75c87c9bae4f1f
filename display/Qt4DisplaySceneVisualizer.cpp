#include "display/Qt4DisplaySceneVisualizer.h"

#include "display/CameraStatusUpdateEvent.h"
#include "display/Qt4DisplaySceneVisualizerD.h"
#include "display/CanvasResizeWatcher.h"
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

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QResizeEvent>
#include <QStatusBar>
#include <QTimer>

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

QLabel* makeStatusIcon(QWidget* parent, QHBoxLayout* layout, const char* resource)
{
    QLabel* label = new QLabel(parent);
    label->setFixedSize(16, 16);
    label->setPixmap(QPixmap(QString::fromLatin1(resource)));
    layout->addWidget(label);
    return label;
}

QLabel* makeStatusText(QWidget* parent, const QString& text)
{
    QLabel* label = new QLabel(text, parent);
    QFont font = QApplication::font();
    font.setPointSize(7);
    label->setFont(font);
    return label;
}

// A hidden floating tool window that may only be closed or floated.
QDockWidget* makeToolDock(QWidget* parent, QWidget* content, const QString& title)
{
    QDockWidget* dock = new QDockWidget(parent);
    dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetFloatable);
    dock->setAllowedAreas(Qt::NoDockWidgetArea);
    dock->setFloating(true);
    dock->setWidget(content);
    dock->setWindowTitle(title);
    dock->hide();
    return dock;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Construction and destruction

Qt4DisplaySceneVisualizer* Qt4DisplaySceneVisualizer::create(QWidget* parent, int boardIndex,
                                                             int dmaIndex)
{
    Qt4DisplaySceneVisualizer* window = new Qt4DisplaySceneVisualizer(parent, boardIndex, dmaIndex);
    window->d->window = window;
    window->canvasWidget->setVisualizer(window);
    return window;
}

Qt4DisplaySceneVisualizer::Qt4DisplaySceneVisualizer(QWidget* parent, int boardIndex,
                                                     int dmaIndex)
    : QMainWindow(parent)
    , vexo::core::DisplaySceneVisualizer()
    , d(new D(boardIndex, dmaIndex))
{
    SceneEventTypes::registerOnce();

    setupUi(this);
    deactivateFrameBufferControls();

    // Status bar: six lamps in one widget, then the overflow and rate labels.
    QWidget* lamps = new QWidget(statusbar);
    QHBoxLayout* lampLayout = new QHBoxLayout(lamps);
    lampLayout->setContentsMargins(0, 0, 0, 0);
    lampLayout->setSpacing(2);
    d->clockLabel = makeStatusIcon(lamps, lampLayout, ":/display-qt4/clock_off.png");
    d->fvalLabel = makeStatusIcon(lamps, lampLayout, ":/display-qt4/fval_off.png");
    d->lvalLabel = makeStatusIcon(lamps, lampLayout, ":/display-qt4/lval_off.png");
    d->exsyncLabel = makeStatusIcon(lamps, lampLayout, ":/display-qt4/exsync_off.png");
    d->extrgLabel = makeStatusIcon(lamps, lampLayout, ":/display-qt4/extrg_off.png");
    d->bufferFillLabel = makeStatusIcon(lamps, lampLayout, ":/display-qt4/buffer_0.png");
    statusbar->addWidget(lamps);

    d->overflowLabel = makeStatusText(statusbar, QStringLiteral("Overflow: -"));
    d->overflowLabel->setFixedSize(150, 16);
    statusbar->addWidget(d->overflowLabel);
    d->acquisitionFpsLabel = makeStatusText(statusbar, QStringLiteral("Acquisition FPS: -"));
    d->acquisitionFpsLabel->setFixedSize(150, 16);
    d->acquisitionFpsLabel->setEnabled(false);
    statusbar->addWidget(d->acquisitionFpsLabel);
    d->renderFpsLabel = makeStatusText(statusbar, QStringLiteral("Render FPS: -"));
    d->renderFpsLabel->setFixedSize(150, 16);
    d->renderFpsLabel->setEnabled(false);
    statusbar->addWidget(d->renderFpsLabel);
    d->renderTimeLabel = makeStatusText(statusbar, QStringLiteral("Render Time (microseconds): -"));
    d->renderTimeLabel->setEnabled(false);
    statusbar->addWidget(d->renderTimeLabel, 1);
    d->renderFpsLabel->hide();
    d->renderTimeLabel->hide();

    connect(horizontalScrollBar, SIGNAL(valueChanged(int)), this,
            SLOT(horizontalScrollBarValueChanged(int)));
    connect(verticalScrollBar, SIGNAL(valueChanged(int)), this,
            SLOT(verticalScrollBarValueChanged(int)));
    connect(grabInfiniteButton, SIGNAL(clicked()), this, SLOT(internalGrabInfiniteButtonClicked()));
    connect(grabSequenceButton, SIGNAL(clicked()), this, SLOT(internalGrabSequenceButtonClicked()));
    connect(grabSingleButton, SIGNAL(clicked()), this, SLOT(internalGrabSingleButtonClicked()));
    connect(stopButton, SIGNAL(clicked()), this, SLOT(internalStopButtonClicked()));
    connect(localSettingsButton, SIGNAL(clicked()), this,
            SLOT(internalLocalSettingsButtonClicked()));
    connect(hexDecButton, SIGNAL(toggled(bool)), this, SLOT(hexDecButtonToggled(bool)));
    connect(rgbOverlayButton, SIGNAL(toggled(bool)), this, SLOT(rgbOverlayButtonToggled(bool)));
    connect(frameBufferSlider, SIGNAL(valueChanged(int)), this, SLOT(frameBufferValueChanged(int)));
    connect(frameBufferSpinBox, SIGNAL(valueChanged(int)), this,
            SLOT(frameBufferValueChanged(int)));
    connect(zoomInButton, SIGNAL(clicked()), this, SLOT(zoomInButtonClicked()));
    connect(zoomOutButton, SIGNAL(clicked()), this, SLOT(zoomOutButtonClicked()));
    connect(zoomValueSpinBox, SIGNAL(valueChanged(int)), this, SLOT(zoomValueChanged(int)));
    connect(saveFrameButton, SIGNAL(clicked()), this, SLOT(saveFrameButtonClicked()));
    connect(saveSequenceButton, SIGNAL(clicked()), this, SLOT(saveSequenceButtonClicked()));

    horizontalScrollBar->setContextMenuPolicy(Qt::NoContextMenu);
    verticalScrollBar->setContextMenuPolicy(Qt::NoContextMenu);

    setupEvents();

    new CanvasResizeWatcher(this, canvasWidget, [this] {
        return canvasWidget->width() == d->canvasWidth && canvasWidget->height() == d->canvasHeight;
    });

    d->renderInterruptTimer = new QTimer(this);
    d->renderInterruptTimer->setSingleShot(true);
    d->renderInterruptTimer->setTimerType(Qt::PreciseTimer);
    connect(d->renderInterruptTimer, SIGNAL(timeout()), this, SLOT(renderInterruptTimeout()));

    grabInfiniteButton->setToolTip(QStringLiteral("Grab Infinite"));
    grabSequenceButton->setToolTip(QStringLiteral("Grab Frame Sequence"));
    grabSingleButton->setToolTip(QStringLiteral("Grab Single Frame"));
    stopButton->setToolTip(QStringLiteral("Stop Grabbing"));
    zoomInButton->setToolTip(QStringLiteral("Zoom In"));
    zoomOutButton->setToolTip(QStringLiteral("Zoom Out"));
    localSettingsButton->setToolTip(QStringLiteral("Local DMA Settings"));
    rgbOverlayButton->setToolTip(QStringLiteral("Display Pixel Values"));
    hexDecButton->setToolTip(QStringLiteral("Display Values As Decimal/Hexadecimal"));
    saveFrameButton->setToolTip(QStringLiteral("Save Current Frame"));
    saveSequenceButton->setToolTip(QStringLiteral("Save Current Sequence"));
    d->clockLabel->setToolTip(QStringLiteral("Sources Detected"));
    d->fvalLabel->setToolTip(QStringLiteral("FVAL"));
    d->lvalLabel->setToolTip(QStringLiteral("LVAL"));
    d->bufferFillLabel->setToolTip(QStringLiteral("Buffer Filllevel"));
    d->bufferFillLabel->hide();

    // The tool windows belong to the window's parent, not to the window, so they float
    // on their own and outlive a hidden window.
    d->lineProfileDialog = new Qt4LineProfileDialog(parent);
    d->lineProfileDock = makeToolDock(parent, d->lineProfileDialog,
                                      QStringLiteral("Line Profile - Device %1, DMA %2")
                                          .arg(boardIndex).arg(dmaIndex));
    lineProfileButton->setEnabled(true);
    lineProfileButton->setToolTip(QStringLiteral("Toggle Line Profile Dialog"));
    connect(lineProfileButton, SIGNAL(clicked()), this, SLOT(toggleLineProfileVisibility()));

    d->lineHistogramDialog = new Qt4LineHistogramDialog(parent);
    d->lineHistogramDock = makeToolDock(parent, d->lineHistogramDialog,
                                        QStringLiteral("Line Histogram - Device %1, DMA %2")
                                            .arg(boardIndex).arg(dmaIndex));
    lineHistogramButton->setEnabled(true);
    lineHistogramButton->setToolTip(QStringLiteral("Toggle Line Histogram Dialog"));
    connect(lineHistogramButton, SIGNAL(clicked()), this, SLOT(toggleLineHistogramVisibility()));
}

Qt4DisplaySceneVisualizer::~Qt4DisplaySceneVisualizer()
{
    // The scene should have let go already; if not, cut it off before the private record
    // goes, so that no callback can reach a half-destroyed window.
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->detachVisualizer(this);

    d->renderInterruptTimer->stop();
    shutdownEvents();
    d->lineHistogramDialog->deleteLater();
    d->lineProfileDialog->deleteLater();
    d->lineHistogramDock->deleteLater();
    d->lineProfileDock->deleteLater();
    d.reset();
}

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
        defaultLogger = vexo::tools::logging::Logging::instance()->getLogger(
            "vexo.core.Qt4DisplaySceneVisualizer");
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
    localSettingsButton->setEnabled(!grabbing);
    grabInfiniteButton->setEnabled(!grabbing);
    grabSequenceButton->setEnabled(!grabbing);
    grabSingleButton->setEnabled(!grabbing);
    stopButton->setEnabled(grabbing);
    if (d->grabSignals)
        emit grabButtonStatusUpdated();
    frameBufferSlider->setEnabled(!grabbing);
    frameBufferSpinBox->setEnabled(!grabbing);
    d->sceneWidth = attached->width();
    d->sceneHeight = attached->height();
    d->updateScrollBars();
}

void Qt4DisplaySceneVisualizer::notifySceneFrameChanged(boost::shared_ptr<DisplaySceneFrame> frame,
                                                        double renderFps)
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
    postToWindow(this, new QEvent(SceneEventTypes::sceneFrameChanged),
                                Qt::HighEventPriority);
}

void Qt4DisplaySceneVisualizer::notifyGrabbingStarted()
{
    postToWindow(this, new QEvent(SceneEventTypes::grabbingStarted),
                                Qt::NormalEventPriority);
}

void Qt4DisplaySceneVisualizer::notifyGrabbingStopped()
{
    postToWindow(this, new QEvent(SceneEventTypes::grabbingStopped),
                                Qt::NormalEventPriority);
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

void Qt4DisplaySceneVisualizer::notifyCameraStatusUpdate(bool cameraClock, bool fval, bool lval,
                                                         bool exsync, bool extrg,
                                                         bool bufferOverflow, int fillLevelStep,
                                                         int fillLevelPercent)
{
    postToWindow(this,
                                new CameraStatusUpdateEvent(SceneEventTypes::cameraStatusUpdate,
                                                            cameraClock, fval, lval, exsync,
                                                            extrg, bufferOverflow, fillLevelStep,
                                                            fillLevelPercent),
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
    postToWindow(this, new QEvent(SceneEventTypes::frameBuffersInvalidated),
                                Qt::HighEventPriority);
}

void Qt4DisplaySceneVisualizer::notifyFrameBuffersAdded()
{
    postToWindow(this, new QEvent(SceneEventTypes::frameBuffersAdded),
                                Qt::HighEventPriority);
}

void Qt4DisplaySceneVisualizer::requestTimedInterrupt(boost::shared_ptr<StopWatch> stopWatch,
                                                      std::uint64_t microseconds)
{
    postToWindow(this,
                                new RequestTimedInterruptEvent(SceneEventTypes::requestTimedInterrupt,
                                                               stopWatch, microseconds),
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
        processCameraStatusUpdate(status->cameraClock, status->fval, status->lval, status->exsync,
                                  status->extrg, status->bufferOverflow, status->fillLevelStep,
                                  status->fillLevelPercent);
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
