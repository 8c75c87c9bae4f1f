#include "Channel.h"

#include "ViewerOptions.h"

#include "display/Qt4DisplaySceneVisualizer.h"

#include "vexo-core/VelmarApplication.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameSource.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include <cstdio>

using vexo::core::DisplayScene;
using vexo::core::FrameSource;
using vexo::core::Qt4DisplaySceneVisualizer;
using vexo::core::VelmarApplication;

namespace {
const char* const disableSourceDetection = "gui.mainwindow.disable_source_detection";
}

Channel::Channel(const ViewerOptions& options, std::unique_ptr<FrameSource> source, int board, int dma)
    : displayScene(DisplayScene::create(std::move(source), options.bufferCount))
    , displayWindow(Qt4DisplaySceneVisualizer::create(nullptr, board, dma))
{
    Qt4DisplaySceneVisualizer* w = displayWindow.get();
    w->setWindowTitle(QStringLiteral("Display - Device %1, DMA %2").arg(board).arg(dma));

    // The host decides about closing and starts acquisition itself, as a host that
    // synchronises several channels would.
    w->enableCloseEventSignal(true);
    w->enableGrabSignals(true);
    w->enableCameraClockSignal(true);
    connect(w, SIGNAL(closeRequestedWithData(int, int)), this, SLOT(closeRequested(int, int)));
    connect(w, SIGNAL(grabInfiniteButtonClicked()), this, SLOT(grabInfinite()));
    connect(w, SIGNAL(grabSequenceButtonClicked()), this, SLOT(grabSequence()));
    connect(w, SIGNAL(grabSingleButtonClicked()), this, SLOT(grabSingle()));
    connect(w, SIGNAL(stopButtonClicked()), this, SLOT(stop()));
    connect(w, SIGNAL(cameraClockChanged(int, int, bool)), this, SLOT(cameraClockChanged(int, int, bool)));

    // The entry the window's no-source message points to.
    QMenu* synchronization = w->menuBar()->addMenu(QStringLiteral("Synchronization"));
    QAction* disable = synchronization->addAction(QStringLiteral("Disable Source Detection"));
    disable->setCheckable(true);
    disable->setChecked(VelmarApplication::getConfigIntEntry(disableSourceDetection, 0) != 0);
    connect(disable, SIGNAL(toggled(bool)), this, SLOT(setSourceDetectionDisabled(bool)));

    displayScene->attachVisualizer(w);
    sourceConnected = displayScene->source().status().connected;
    connect(&connectionPoll, &QTimer::timeout, this, &Channel::checkSourceConnected);
    connectionPoll.start(250);
}

void Channel::checkSourceConnected()
{
    const bool connected = displayScene->source().status().connected;
    if (connected == sourceConnected)
        return;
    sourceConnected = connected;
    std::fprintf(stderr, "source %s\n", connected ? "connected" : "disconnected");
    displayScene->refreshSourcesConnected();
    // The grab buttons show whether there is anything to grab from.
    displayWindow->applyDmaConnectionToControlButtons(connected, displayScene->isGrabbing(), false);
}

Channel::~Channel()
{
    displayScene->stopGrabbing();
    displayScene->detachVisualizer(displayWindow.get());
}

Qt4DisplaySceneVisualizer* Channel::window() const
{
    return displayWindow.get();
}

const boost::shared_ptr<DisplayScene>& Channel::scene() const
{
    return displayScene;
}

void Channel::closeRequested(int, int)
{
    displayWindow->hide();
    emit closed(this);
}

void Channel::grabInfinite()
{
    displayScene->startGrabbing(-1);
}

void Channel::grabSequence()
{
    displayScene->startGrabbing(0);
}

void Channel::grabSingle()
{
    displayScene->startGrabbing(1);
}

void Channel::stop()
{
    displayScene->stopGrabbing();
}

void Channel::cameraClockChanged(int board, int dma, bool on)
{
    std::fprintf(stderr, "device %d, DMA %d: camera clock %s\n", board, dma, on ? "on" : "off");
}

void Channel::setSourceDetectionDisabled(bool disabled)
{
    VelmarApplication::setConfigEntry(disableSourceDetection, std::int64_t(disabled ? 1 : 0));
}
