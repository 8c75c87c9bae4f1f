#include "Channel.h"

#include "ChannelTitle.h"
#include "RecordBar.h"
#include "LevelsBar.h"
#include "SourceSettingsDialog.h"
#include "SourceWatch.h"
#include "ToolWindowPlacer.h"
#include "ViewActions.h"
#include "ViewerOptions.h"

#include "display/Qt4DisplaySceneVisualizer.h"

#include "vexo-core/VelmarApplication.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameSource.h"
#include "vexo-lib-display/SimulatorSource.h"

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
    // Children of the window: keyboard navigation, tool windows beside it, a title
    // that names the source and format.
    new ViewActions(w);
    new ToolWindowPlacer(w, board, dma);
    new ChannelTitle(w, displayScene, QStringLiteral("Display - Device %1, DMA %2").arg(board).arg(dma));

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
    connect(w, &Qt4DisplaySceneVisualizer::localSettingsButtonClicked, this,
            [this, board, dma] { showSettings(board, dma); });
    // Frames the ring had no room for, and frames the source lost, as the window's
    // overflow counts.
    w->setOverflowEventsSupport(true);
    // The host enables the grab buttons from the source's presence, so that a grab press
    // without a source is refused unless source detection is disabled.
    w->enableExternalButtonControl(true);
    connect(w, SIGNAL(grabButtonStatusUpdated()), this, SLOT(updateControlButtons()));

    // The entry the window's no-source message points to.
    QMenu* synchronization = w->menuBar()->addMenu(QStringLiteral("Synchronization"));
    QAction* disable = synchronization->addAction(QStringLiteral("Disable Source Detection"));
    disable->setCheckable(true);
    disable->setChecked(VelmarApplication::getConfigIntEntry(disableSourceDetection, 0) != 0);
    connect(disable, SIGNAL(toggled(bool)), this, SLOT(setSourceDetectionDisabled(bool)));

    // Several channels recording into one folder each get a folder of their own in it.
    RecordBar::Settings record;
    record.folder = options.recordFolder;
    if (!record.folder.isEmpty() && options.boards * options.dmaChannels > 1)
        record.folder += QStringLiteral("/device%1-dma%2").arg(board).arg(dma);
    record.bigTiff = options.recordBigTiff;
    record.frameLimit = options.grabFrames > 0 ? std::uint64_t(options.grabFrames) : 0;
    recording = new RecordBar(w, displayScene, record);

    // The display range, as asked for on the command line and then as the bar sets it.
    displayScene->setDisplayLevels(options.levels);
    w->addToolBar(new LevelsBar(displayScene, w));

    displayScene->attachVisualizer(w);
    if (!options.recordFolder.isEmpty())
        recording->startRecording();
    sourceConnected = displayScene->source().status().connected;
    connect(&connectionPoll, &QTimer::timeout, this, &Channel::checkSourceConnected);
    connect(&connectionPoll, &QTimer::timeout, this, &Channel::reportOverflows);
    connectionPoll.start(250);
    updateControlButtons();

    // A source that refuses or stops is told of at once. The simulator's rate is its own
    // (it may be changed); a camera's is the one asked for, if any; files play at --fps.
    QString name = QStringLiteral("the simulator");
    double fixedFps = 0.0;
    switch (options.source) {
    case ViewerOptions::Source::Simulator:
        break;
    case ViewerOptions::Source::Camera:
        name = options.cameraId.isEmpty() ? QStringLiteral("the camera")
                                          : QStringLiteral("camera %1").arg(options.cameraId);
        fixedFps = options.cameraFps;
        break;
    case ViewerOptions::Source::File:
        name = options.filePath;
        fixedFps = options.simulator.framesPerSecond;
        break;
    case ViewerOptions::Source::Pipeline:
        // The pipeline sets its own pace, unknown here.
        name = !options.v4l2Device.isEmpty() ? options.v4l2Device
            : !options.mediaFile.isEmpty()   ? options.mediaFile
                                             : QStringLiteral("the pipeline");
        break;
    }
    const bool unknownRate = (options.camera() || options.source == ViewerOptions::Source::Pipeline) && fixedFps <= 0;
    sourceWatch.reset(new SourceWatch(displayScene, w, name, [this, fixedFps, unknownRate] {
        if (auto* simulator = dynamic_cast<vexo::core::SimulatorSource*>(&displayScene->source())) {
            const double fps = simulator->settings().framesPerSecond;
            return fps > 0 ? 1000.0 / fps : 0.0;
        }
        if (unknownRate)
            return -1.0;
        return fixedFps > 0 ? 1000.0 / fixedFps : 0.0;
    }));
    connect(sourceWatch.get(), &SourceWatch::grabRefused, this, &Channel::updateControlButtons);
    connect(w, &Qt4DisplaySceneVisualizer::grabButtonStatusUpdated, sourceWatch.get(), &SourceWatch::grabStateChanged);
}

void Channel::updateControlButtons()
{
    displayWindow->applyDmaConnectionToControlButtons(sourceConnected, displayScene->isGrabbing(), false);
}

void Channel::reportOverflows()
{
    const std::uint64_t dropped = displayScene->statistics().framesDropped;
    const std::uint64_t lost = displayScene->source().status().framesLost;
    // One event per frame; the value is the running total.
    for (; reportedDropped < dropped; ++reportedDropped)
        displayWindow->updateOverflowEvents(false, true, static_cast<unsigned int>(reportedDropped + 1));
    for (; reportedLost < lost; ++reportedLost)
        displayWindow->updateOverflowEvents(true, false, static_cast<unsigned int>(reportedLost + 1));
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
    updateControlButtons();
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

RecordBar* Channel::recordBar() const
{
    return recording;
}

void Channel::closeRequested(int, int)
{
    if (settingsDialog)
        settingsDialog->hide();
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

void Channel::showSettings(int board, int dma)
{
    if (!settingsDialog) {
        settingsDialog.reset(new SourceSettingsDialog(displayScene, displayWindow.get(), displayWindow.get()));
        settingsDialog->setWindowTitle(QStringLiteral("Settings - Device %1, DMA %2").arg(board).arg(dma));
    }
    // An open dialog keeps what is being edited in it.
    if (!settingsDialog->isVisible())
        settingsDialog->refresh();
    settingsDialog->show();
    settingsDialog->raise();
    settingsDialog->activateWindow();
}
