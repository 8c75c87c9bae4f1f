// The host application: display windows for acquisition channels on the built-in
// simulator or a camera, as a real host uses the library (init, create, attach, wire,
// deinit).

#include "Channel.h"
#include "DispatcherCheck.h"
#include "HeadlessRun.h"
#include "MemoryBudget.h"
#include "TerminationSignals.h"
#include "ViewerOptions.h"
#include "ViewerSources.h"
#include "WindowCascade.h"

#include "display/Qt4DisplaySceneVisualizer.h"
#include "frame/VexoDisplayQt4.h"

#include "vexo-core/VelmarApplication.h"
#include "vexo-lib-display/DisplayScene.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using vexo::core::FrameSource;
using vexo::core::Qt4DisplaySceneVisualizer;

namespace {

// A hidden window has been closed already: closing it again would count it twice.
void closeOpenWindows(const std::vector<std::unique_ptr<Channel>>& channels)
{
    for (const auto& channel : channels)
        if (channel->window()->isVisible())
            channel->window()->close();
}

// Listing cameras, help and the version need no display: they are answered before the
// GUI application, whose platform plugin would abort without one. False when the
// arguments ask for none of them; *status is then untouched.
bool answeredWithoutDisplay(int argc, char** argv, int* status)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--list-cameras" || argument == "--help" || argument == "-h" || argument == "--help-all"
            || argument == "--version" || argument == "-v") {
            QCoreApplication app(argc, argv);
            QCoreApplication::setApplicationName(QStringLiteral("vexo-display-viewer"));
            QCoreApplication::setApplicationVersion(QStringLiteral(VEXO_VIEWER_VERSION));
            ViewerOptions options; // help and the version end the process in here
            QString error;
            if (!options.parse(QCoreApplication::arguments(), &error)) {
                std::fprintf(stderr, "vexo-display-viewer: %s\n", qPrintable(error));
                *status = 2;
            } else {
                *status = listCameras(options);
            }
            return true;
        }
    }
    return false;
}

// The library skips configuration lines it cannot read without a word; the user should
// hear of them, and of a logging dispatcher that cannot be used.
void warnAboutSetup()
{
    const std::string configProblem = vexo::core::VelmarApplication::configurationProblem();
    if (!configProblem.empty())
        std::fprintf(stderr, "vexo-display-viewer: warning: %s\n", configProblem.c_str());
    const QString dispatcherProblem = DispatcherCheck::problem();
    if (!dispatcherProblem.isEmpty())
        std::fprintf(stderr, "vexo-display-viewer: warning: %s\n", qPrintable(dispatcherProblem));
}

// A window per board and DMA channel, placed by cascade; open counts the windows still
// open, and the event loop ends when it drops to 0. 0, or the exit status when a channel
// cannot be made.
int openChannels(const ViewerOptions& options, QApplication& app, WindowCascade& cascade,
                 std::vector<std::unique_ptr<Channel>>& channels, int& open)
{
    int status = 0;
    QString error;
    for (int board = 0; board < options.boards; ++board) {
        for (int dma = 0; dma < options.dmaChannels; ++dma) {
            std::unique_ptr<FrameSource> source = makeSource(options, &error);
            if (!source) {
                std::fprintf(stderr, "vexo-display-viewer: %s\n", qPrintable(error));
                status = 3;
                break;
            }
            // A camera's or a file's size is known only now (one source, one channel).
            if (options.source != ViewerOptions::Source::Simulator
                && !MemoryBudget::admits(options, source->format(), &error)) {
                std::fprintf(stderr, "vexo-display-viewer: %s\n", qPrintable(error));
                status = 2;
                break;
            }
            channels.emplace_back(new Channel(options, std::move(source), board, dma));
            Qt4DisplaySceneVisualizer* window = channels.back()->window();
            cascade.add(window);
            window->show();
            ++open;
            QObject::connect(channels.back().get(), &Channel::closed, &app, [&open, &app](Channel*) {
                if (--open == 0)
                    app.quit();
            });
        }
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    int status = 0;
    if (answeredWithoutDisplay(argc, argv, &status))
        return status;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vexo-display-viewer"));

    ViewerOptions options;
    QString error;
    if (!options.parse(QApplication::arguments(), &error)) {
        std::fprintf(stderr, "vexo-display-viewer: %s\n", qPrintable(error));
        return 2;
    }
    if (!options.configFile.isEmpty())
        qputenv("VEXO_CONFIG_FILE", QFile::encodeName(options.configFile));
    warnAboutSetup();

    VexoDisplayQt4Init();
    {
        std::vector<std::unique_ptr<Channel>> channels;
        int open = 0;
        // The buffers of all channels must fit before any channel is made; a ring that
        // fails to allocate all the same ends the run as soon as the event loop runs.
        if (!MemoryBudget::admits(options, &error)) {
            std::fprintf(stderr, "vexo-display-viewer: %s\n", qPrintable(error));
            VexoDisplayQt4Deinit();
            return 2;
        }
        QTimer::singleShot(0, &app, [&channels] { MemoryBudget::refuseChannelsWithoutRing(channels); });
        WindowCascade cascade;
        status = openChannels(options, app, cascade, channels, open);
        std::unique_ptr<HeadlessRun> headless;
        if (status != 0) {
            channels.clear();
            VexoDisplayQt4Deinit();
            return status;
        }
        int interruptedBy = 0;
        catchTerminationSignals(&app, [&](int signal) {
            if (interruptedBy != 0)
                return;
            interruptedBy = signal;
            if (headless)
                headless->interrupt();
            closeOpenWindows(channels);
        });
        if (options.grabFrames > 0) {
            headless.reset(new HeadlessRun(options, channels.front().get()));
            // The run is on the first channel; the other channels end with it.
            QObject::connect(channels.front().get(), &Channel::closed, &app,
                             [&channels](Channel*) { closeOpenWindows(channels); });
            QTimer::singleShot(0, headless.get(), [&headless] { headless->start(); });
        } else if (!options.screenshot.isEmpty()) {
            QTimer::singleShot(0, &app, [&] {
                // A channel without its ring has already ended the run with status 2.
                if (!channels.front()->scene()->ringError().empty())
                    return;
                if (!channels.front()->window()->grab().save(options.screenshot, "PNG"))
                    status = 1;
                app.quit();
            });
        }
        const int result = app.exec();
        if (headless)
            status = headless->status;
        if (status == 0)
            status = result;
        // As a shell reports a process ended by that signal, though this one ended in order.
        if (interruptedBy != 0 && status == 0)
            status = 128 + interruptedBy;
    }
    VexoDisplayQt4Deinit();
    return status;
}
