// The host application: display windows for acquisition channels on the built-in
// simulator or a camera, as a real host uses the library (init, create, attach, wire,
// deinit).

#include "Channel.h"
#include "DispatcherCheck.h"
#include "MemoryBudget.h"
#include "ViewerOptions.h"
#include "WindowCascade.h"

#include "display/Qt4DisplaySceneVisualizer.h"
#include "frame/VexoDisplayQt4.h"

#include "vexo-core/VelmarApplication.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/SimulatorSource.h"

#ifdef VEXO_HAVE_CAMERA
#include "vexo-camera/CameraSource.h"
#endif

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

using vexo::core::FrameSource;
using vexo::core::Qt4DisplaySceneVisualizer;

namespace {

// The source of one channel; empty, with a message, when the camera cannot be used.
std::unique_ptr<FrameSource> makeSource(const ViewerOptions& options, QString* error)
{
    if (!options.camera)
        return std::unique_ptr<FrameSource>(new vexo::core::SimulatorSource(options.simulator));
#ifdef VEXO_HAVE_CAMERA
    using vexo::core::CameraSource;
    if (options.fakeCamera)
        CameraSource::enableFakeCamera();
    CameraSource::Settings settings;
    settings.id = options.cameraId.toStdString();
    settings.pixelFormat = options.pixelFormat.toStdString();
    settings.width = options.cameraWidth;
    settings.height = options.cameraHeight;
    settings.framesPerSecond = options.cameraFps;
    std::unique_ptr<CameraSource> camera(new CameraSource(settings));
    if (!camera->isUsable()) {
        *error = QString::fromStdString(camera->lastError());
        return nullptr;
    }
    const auto format = camera->format();
    std::fprintf(stderr, "camera %s: %s %dx%d\n", camera->cameraId().c_str(), camera->pixelFormatName().c_str(),
                 format.width, format.height);
    return camera;
#else
    *error = QStringLiteral("built without camera support");
    return nullptr;
#endif
}

int listCameras(const ViewerOptions& options)
{
#ifdef VEXO_HAVE_CAMERA
    using vexo::core::CameraSource;
    if (options.fakeCamera)
        CameraSource::enableFakeCamera();
    const auto cameras = CameraSource::listCameras();
    for (const CameraSource::Camera& c : cameras)
        std::printf("%s\t%s\t%s\t%s\t%s\t%s\n", c.id.c_str(), c.vendor.c_str(), c.model.c_str(),
                    c.serial.c_str(), c.protocol.c_str(), c.address.c_str());
    if (cameras.empty())
        std::fprintf(stderr, "no camera found\n");
    return 0;
#else
    (void)options;
    return 2;
#endif
}

QWidget* toolWindow(const QString& title)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowTitle() == title)
            return w;
    return nullptr;
}

QString labelText(Qt4DisplaySceneVisualizer* window, const QString& startsWith)
{
    for (QLabel* label : window->findChildren<QLabel*>())
        if (label->text().startsWith(startsWith))
            return label->text();
    return QString();
}

QString suffixed(const QString& file, const QString& suffix)
{
    const QFileInfo info(file);
    return info.dir().filePath(info.completeBaseName() + suffix + QStringLiteral(".png"));
}

// The headless run on the first channel: grab, stop once enough frames were shown, wait
// until the newest frame is on screen, then save, photograph, report and close.
class HeadlessRun : public QObject
{
public:
    HeadlessRun(const ViewerOptions& options, Channel* channel)
        : options(options)
        , channel(channel)
    {
        connect(&poll, &QTimer::timeout, this, [this] { step(); });
    }

    void start()
    {
        Qt4DisplaySceneVisualizer* window = channel->window();
        if (options.openTools) {
            window->findChild<QPushButton*>("lineProfileButton")->click();
            window->findChild<QPushButton*>("lineHistogramButton")->click();
        }
        window->findChild<QPushButton*>("grabInfiniteButton")->click();
        poll.start(20);
    }

    // SIGTERM or SIGINT: end now with what was shown so far (GUI thread).
    void interrupt()
    {
        if (finished)
            return;
        poll.stop();
        Qt4DisplaySceneVisualizer* window = channel->window();
        if (channel->scene()->isGrabbing())
            window->findChild<QPushButton*>("stopButton")->click();
        auto group = channel->scene()->frameBufferGroup();
        if (group && group->frameCounter() > 0)
            newest = group->buffer(group->frameCounter() - 1);
        finish();
    }

    int status = 0;
    // The run ended before the frames asked for were shown: scripts must notice.
    static constexpr int exitSourceGone = 4;

private:
    void step()
    {
        const auto& scene = channel->scene();
        Qt4DisplaySceneVisualizer* window = channel->window();
        if (phase == Grabbing) {
            const QString rate = labelText(window, QStringLiteral("Acquisition FPS:"));
            if (!rate.contains(QLatin1String("<b>-</b>")))
                acquisitionRate = rate;
            if (scene->statistics().framesRecycled > 0 && !firstFrameTold) {
                firstFrameTold = true;
                std::printf("frames shown\n");
                std::fflush(stdout);
            }
            if (!scene->source().status().connected) {
                // The source went away while grabbing: the run ends by itself; what the
                // window shows then is the result.
                const std::string why = scene->source().problem();
                std::fprintf(stderr, "the source is gone%s%s\n", why.empty() ? "" : ": ", why.c_str());
                phase = Stopping;
                sourceLost = true;
                status = exitSourceGone;
                return;
            }
            if (scene->statistics().framesRecycled >= std::uint64_t(options.grabFrames)
                && !acquisitionRate.isEmpty()) {
                window->findChild<QPushButton*>("stopButton")->click();
                phase = Stopping;
            }
            return;
        }
        if (phase == Stopping) {
            if (scene->isGrabbing())
                return;
            auto group = scene->frameBufferGroup();
            newest = group->buffer(group->frameCounter() - 1);
            const QString shown = window->findChild<QLabel*>("frameIndexLabel")->text();
            if (newest && shown != QString::number(newest->frameIndex()))
                return;
            if (!newest && !sourceLost)
                return;
            // The window counts overflows at its next tick, within the settling rounds.
            channel->reportOverflows();
            phase = Settling;
            return;
        }
        // Give the tool windows a few rounds to draw the frame now on screen.
        if (++settleRounds < 15)
            return;
        poll.stop();
        finish();
    }

    void finish()
    {
        finished = true;
        Qt4DisplaySceneVisualizer* window = channel->window();
        if (!options.saveFrame.isEmpty()) {
            std::string reason = "no frame was shown";
            if (!newest || newest->saveTiff(options.saveFrame.toStdString(), &reason) != 0) {
                const std::string message = "cannot save " + options.saveFrame.toStdString() + ": " + reason;
                std::fprintf(stderr, "vexo-display-viewer: %s\n", message.c_str());
                status = 1;
            }
        }
        if (!options.screenshot.isEmpty()) {
            if (!window->grab().save(options.screenshot, "PNG"))
                status = 1;
            const QString tools[] = {QStringLiteral("Line Profile"), QStringLiteral("Line Histogram")};
            const QString suffixes[] = {QStringLiteral("-profile"), QStringLiteral("-histogram")};
            for (int i = 0; i < 2 && options.openTools; ++i) {
                const QString title = QStringLiteral("%1 - Device 0, DMA 0").arg(tools[i]);
                if (QWidget* tool = toolWindow(title))
                    tool->grab().save(suffixed(options.screenshot, suffixes[i]), "PNG");
            }
            std::printf("screenshot written to %s\n", qPrintable(options.screenshot));
        }
        if (!options.report.isEmpty()) {
            QFile file(options.report);
            if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
                QWidget* canvas = window->findChild<QWidget*>("canvasWidget");
                const QPoint origin = canvas->mapTo(window, QPoint(0, 0));
                QTextStream out(&file);
                const auto statistics = channel->scene()->statistics();
                out << "acquisition=" << acquisitionRate << "\n"
                    << "frameIndex=" << (newest ? newest->frameIndex() : -1) << "\n"
                    << "tag=" << (newest ? newest->tag() : 0) << "\n"
                    << "sourceConnected=" << int(channel->scene()->source().status().connected) << "\n"
                    << "clockOn=" << int(window->isCameraClockOn()) << "\n"
                    << "framesAcquired=" << statistics.framesAcquired << "\n"
                    << "framesDropped=" << statistics.framesDropped << "\n"
                    << "framesLostBySource=" << channel->scene()->source().status().framesLost << "\n"
                    << "overflow=" << labelText(window, QStringLiteral("Overflow:")) << "\n"
                    << "canvas=" << origin.x() << "," << origin.y() << "," << canvas->width() << ","
                    << canvas->height() << "\n"
                    << "sceneCanvas=" << channel->scene()->view().canvasWidth << ","
                    << channel->scene()->view().canvasHeight << "\n"
                    << "framesShown=" << channel->scene()->statistics().framesRecycled << "\n";
            } else {
                status = 1;
            }
        }
        // Every channel's window: the run ends when the last channel has closed.
        for (QWidget* top : QApplication::topLevelWidgets())
            if (qobject_cast<Qt4DisplaySceneVisualizer*>(top))
                top->close(); // the host hears the request and closes the channel
    }

    enum Phase { Grabbing, Stopping, Settling };
    const ViewerOptions& options;
    Channel* channel;
    QTimer poll;
    Phase phase = Grabbing;
    int settleRounds = 0;
    bool firstFrameTold = false;
    bool sourceLost = false;
    bool finished = false;
    QString acquisitionRate;
    boost::shared_ptr<vexo::core::FrameBuffer> newest;
};

// The write end of the pipe that carries SIGTERM and SIGINT to the event loop; the
// handler may do nothing but write to it.
int signalPipe = -1;

void forwardSignal(int signal)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    (void)!::write(signalPipe, &number, 1);
    errno = saved;
}

// Ends the run in order on SIGTERM and SIGINT: onSignal runs on the GUI thread with the
// signal's number. False when the pipe cannot be made (signals then end the process as usual).
bool catchTerminationSignals(QObject* owner, const std::function<void(int)>& onSignal)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return false;
    signalPipe = fds[1];
    auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [fds, onSignal] {
        unsigned char number = 0;
        if (::read(fds[0], &number, 1) == 1)
            onSignal(number);
    });
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    return true;
}

// A hidden window has been closed already: closing it again would count it twice.
void closeOpenWindows(const std::vector<std::unique_ptr<Channel>>& channels)
{
    for (const auto& channel : channels)
        if (channel->window()->isVisible())
            channel->window()->close();
}

} // namespace

int main(int argc, char** argv)
{
    // Listing cameras, help and the version need no display: they are answered before the
    // GUI application, whose platform plugin would abort without one.
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
                return 2;
            }
            return listCameras(options);
        }
    }

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
    // The library skips lines it cannot read without a word; the user should hear of them.
    const std::string configProblem = vexo::core::VelmarApplication::configurationProblem();
    if (!configProblem.empty())
        std::fprintf(stderr, "vexo-display-viewer: warning: %s\n", configProblem.c_str());
    const QString dispatcherProblem = DispatcherCheck::problem();
    if (!dispatcherProblem.isEmpty())
        std::fprintf(stderr, "vexo-display-viewer: warning: %s\n", qPrintable(dispatcherProblem));

    VexoDisplayQt4Init();
    int status = 0;
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
        for (int board = 0; board < options.boards; ++board) {
            for (int dma = 0; dma < options.dmaChannels; ++dma) {
                std::unique_ptr<FrameSource> source = makeSource(options, &error);
                if (!source) {
                    std::fprintf(stderr, "vexo-display-viewer: %s\n", qPrintable(error));
                    status = 3;
                    break;
                }
                // A camera's size is known only now (one camera, one channel).
                if (options.camera && !MemoryBudget::admits(options, source->format(), &error)) {
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
