// The host application: display windows for acquisition channels on the built-in
// simulator, as a real host uses the library (init, create, attach, wire, deinit).

#include "Channel.h"
#include "ViewerOptions.h"

#include "display/Qt4DisplaySceneVisualizer.h"
#include "frame/VexoDisplayQt4.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FrameBufferGroup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

using vexo::core::Qt4DisplaySceneVisualizer;

namespace {

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

    int status = 0;

private:
    void step()
    {
        const auto& scene = channel->scene();
        Qt4DisplaySceneVisualizer* window = channel->window();
        if (phase == Grabbing) {
            const QString rate = labelText(window, QStringLiteral("Acquisition FPS:"));
            if (!rate.contains(QLatin1String("<b>-</b>")))
                acquisitionRate = rate;
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
            if (!newest || shown != QString::number(newest->frameIndex()))
                return;
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
        Qt4DisplaySceneVisualizer* window = channel->window();
        if (!options.saveFrame.isEmpty() && newest->saveTiff(options.saveFrame.toStdString()) != 0) {
            std::fprintf(stderr, "cannot save %s\n", qPrintable(options.saveFrame));
            status = 1;
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
                out << "acquisition=" << acquisitionRate << "\n"
                    << "frameIndex=" << newest->frameIndex() << "\n"
                    << "canvas=" << origin.x() << "," << origin.y() << "," << canvas->width() << ","
                    << canvas->height() << "\n"
                    << "framesShown=" << channel->scene()->statistics().framesRecycled << "\n";
            } else {
                status = 1;
            }
        }
        window->close(); // the host hears the request and closes the channel
    }

    enum Phase { Grabbing, Stopping, Settling };
    const ViewerOptions& options;
    Channel* channel;
    QTimer poll;
    Phase phase = Grabbing;
    int settleRounds = 0;
    QString acquisitionRate;
    boost::shared_ptr<vexo::core::FrameBuffer> newest;
};

} // namespace

int main(int argc, char** argv)
{
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

    VexoDisplayQt4Init();
    int status = 0;
    {
        std::vector<std::unique_ptr<Channel>> channels;
        int open = 0;
        for (int board = 0; board < options.boards; ++board) {
            for (int dma = 0; dma < options.dmaChannels; ++dma) {
                channels.emplace_back(new Channel(options, board, dma));
                Qt4DisplaySceneVisualizer* window = channels.back()->window();
                window->move(40 * int(channels.size() - 1), 40 * int(channels.size() - 1));
                window->show();
                ++open;
                QObject::connect(channels.back().get(), &Channel::closed, &app, [&open, &app](Channel*) {
                    if (--open == 0)
                        app.quit();
                });
            }
        }
        std::unique_ptr<HeadlessRun> headless;
        if (options.grabFrames > 0) {
            headless.reset(new HeadlessRun(options, channels.front().get()));
            QTimer::singleShot(0, headless.get(), [&headless] { headless->start(); });
        } else if (!options.screenshot.isEmpty()) {
            QTimer::singleShot(0, &app, [&] {
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
    }
    VexoDisplayQt4Deinit();
    return status;
}
