// Construction and destruction: the form, the status bar the form does not have, the
// connections, the tool tips and the two tool windows (GUI thread).

#include "display/Qt4DisplaySceneVisualizer.h"

#include "display/CanvasResizeWatcher.h"
#include "display/Qt4DisplaySceneVisualizerD.h"
#include "display/SceneEventTypes.h"
#include "linehistogram/Qt4LineHistogramDialog.h"
#include "lineprofile/Qt4LineProfileDialog.h"

#include "vexo-lib-display/DisplayScene.h"

#include <QApplication>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QStatusBar>
#include <QTimer>

namespace vexo {
namespace core {

namespace {

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

void Qt4DisplaySceneVisualizer::D::buildStatusBar()
{
    QStatusBar* bar = window->statusbar;
    // Six lamps in one widget, then the overflow and rate labels.
    QWidget* lamps = new QWidget(bar);
    QHBoxLayout* lampLayout = new QHBoxLayout(lamps);
    lampLayout->setContentsMargins(0, 0, 0, 0);
    lampLayout->setSpacing(2);
    clockLabel = makeStatusIcon(lamps, lampLayout, ":/display-qt4/clock_off.png");
    fvalLabel = makeStatusIcon(lamps, lampLayout, ":/display-qt4/fval_off.png");
    lvalLabel = makeStatusIcon(lamps, lampLayout, ":/display-qt4/lval_off.png");
    exsyncLabel = makeStatusIcon(lamps, lampLayout, ":/display-qt4/exsync_off.png");
    extrgLabel = makeStatusIcon(lamps, lampLayout, ":/display-qt4/extrg_off.png");
    bufferFillLabel = makeStatusIcon(lamps, lampLayout, ":/display-qt4/buffer_0.png");
    bar->addWidget(lamps);

    overflowLabel = makeStatusText(bar, QStringLiteral("Overflow: -"));
    overflowLabel->setFixedSize(150, 16);
    bar->addWidget(overflowLabel);
    acquisitionFpsLabel = makeStatusText(bar, QStringLiteral("Acquisition FPS: -"));
    acquisitionFpsLabel->setFixedSize(150, 16);
    acquisitionFpsLabel->setEnabled(false);
    bar->addWidget(acquisitionFpsLabel);
    renderFpsLabel = makeStatusText(bar, QStringLiteral("Render FPS: -"));
    renderFpsLabel->setFixedSize(150, 16);
    renderFpsLabel->setEnabled(false);
    bar->addWidget(renderFpsLabel);
    renderTimeLabel = makeStatusText(bar, QStringLiteral("Render Time (microseconds): -"));
    renderTimeLabel->setEnabled(false);
    bar->addWidget(renderTimeLabel, 1);
    renderFpsLabel->hide();
    renderTimeLabel->hide();

    clockLabel->setToolTip(QStringLiteral("Sources Detected"));
    fvalLabel->setToolTip(QStringLiteral("FVAL"));
    lvalLabel->setToolTip(QStringLiteral("LVAL"));
    // "Filllevel" is spelled so on purpose: the window's texts are fixed.
    bufferFillLabel->setToolTip(QStringLiteral("Buffer Filllevel"));
    bufferFillLabel->hide();
}

void Qt4DisplaySceneVisualizer::D::buildToolDocks(QWidget* parent)
{
    // The tool windows belong to the window's parent, not to the window, so they float
    // on their own and outlive a hidden window.
    lineProfileDialog = new Qt4LineProfileDialog(parent);
    lineProfileDock = makeToolDock(parent, lineProfileDialog,
                                   QStringLiteral("Line Profile - Device %1, DMA %2").arg(boardIndex).arg(dmaIndex));
    window->lineProfileButton->setEnabled(true);
    window->lineProfileButton->setToolTip(QStringLiteral("Toggle Line Profile Dialog"));
    QObject::connect(window->lineProfileButton, SIGNAL(clicked()), window, SLOT(toggleLineProfileVisibility()));

    lineHistogramDialog = new Qt4LineHistogramDialog(parent);
    lineHistogramDock =
        makeToolDock(parent, lineHistogramDialog,
                     QStringLiteral("Line Histogram - Device %1, DMA %2").arg(boardIndex).arg(dmaIndex));
    window->lineHistogramButton->setEnabled(true);
    window->lineHistogramButton->setToolTip(QStringLiteral("Toggle Line Histogram Dialog"));
    QObject::connect(window->lineHistogramButton, SIGNAL(clicked()), window, SLOT(toggleLineHistogramVisibility()));
}

Qt4DisplaySceneVisualizer* Qt4DisplaySceneVisualizer::create(QWidget* parent, int boardIndex, int dmaIndex)
{
    Qt4DisplaySceneVisualizer* window = new Qt4DisplaySceneVisualizer(parent, boardIndex, dmaIndex);
    window->canvasWidget->setVisualizer(window);
    return window;
}

Qt4DisplaySceneVisualizer::Qt4DisplaySceneVisualizer(QWidget* parent, int boardIndex, int dmaIndex)
    : QMainWindow(parent)
    , vexo::core::DisplaySceneVisualizer()
    , d(new D(boardIndex, dmaIndex))
{
    SceneEventTypes::registerOnce();
    d->window = this;

    setupUi(this);
    deactivateFrameBufferControls();
    d->buildStatusBar();

    connect(horizontalScrollBar, SIGNAL(valueChanged(int)), this, SLOT(horizontalScrollBarValueChanged(int)));
    connect(verticalScrollBar, SIGNAL(valueChanged(int)), this, SLOT(verticalScrollBarValueChanged(int)));
    connect(grabInfiniteButton, SIGNAL(clicked()), this, SLOT(internalGrabInfiniteButtonClicked()));
    connect(grabSequenceButton, SIGNAL(clicked()), this, SLOT(internalGrabSequenceButtonClicked()));
    connect(grabSingleButton, SIGNAL(clicked()), this, SLOT(internalGrabSingleButtonClicked()));
    connect(stopButton, SIGNAL(clicked()), this, SLOT(internalStopButtonClicked()));
    connect(localSettingsButton, SIGNAL(clicked()), this, SLOT(internalLocalSettingsButtonClicked()));
    connect(hexDecButton, SIGNAL(toggled(bool)), this, SLOT(hexDecButtonToggled(bool)));
    connect(rgbOverlayButton, SIGNAL(toggled(bool)), this, SLOT(rgbOverlayButtonToggled(bool)));
    connect(frameBufferSlider, SIGNAL(valueChanged(int)), this, SLOT(frameBufferValueChanged(int)));
    connect(frameBufferSpinBox, SIGNAL(valueChanged(int)), this, SLOT(frameBufferValueChanged(int)));
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

    d->buildToolDocks(parent);
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

} // namespace core
} // namespace vexo
