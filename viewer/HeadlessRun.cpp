#include "HeadlessRun.h"

#include "Channel.h"
#include "RecordBar.h"

#include "display/Qt4DisplaySceneVisualizer.h"

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

#include <cstdio>
#include <string>

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

} // namespace

HeadlessRun::HeadlessRun(const ViewerOptions& options, Channel* channel)
    : options(options)
    , channel(channel)
{
    connect(&poll, &QTimer::timeout, this, [this] { step(); });
}

void HeadlessRun::start()
{
    Qt4DisplaySceneVisualizer* window = channel->window();
    if (options.openTools) {
        window->findChild<QPushButton*>("lineProfileButton")->click();
        window->findChild<QPushButton*>("lineHistogramButton")->click();
    }
    window->findChild<QPushButton*>("grabInfiniteButton")->click();
    poll.start(20);
}

void HeadlessRun::interrupt()
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

void HeadlessRun::step()
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
        if (!scene->isGrabbing()) {
            // The source has no more frames (files replayed once): what was shown is the result.
            std::fprintf(stderr, "the source has no more frames\n");
            phase = Stopping;
            return;
        }
        // Recording, the run ends with the recording: its frames taken, or a full disk.
        const bool done = options.recordFolder.isEmpty()
            ? scene->statistics().framesRecycled >= std::uint64_t(options.grabFrames) && !acquisitionRate.isEmpty()
            : !scene->recorder().status().recording;
        if (done) {
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

void HeadlessRun::finish()
{
    finished = true;
    Qt4DisplaySceneVisualizer* window = channel->window();
    if (!options.recordFolder.isEmpty()) {
        // Whatever is queued still goes to disk before the figures are told.
        channel->scene()->recorder().stop();
        channel->scene()->recorder().wait();
        std::printf("%s\n", qPrintable(channel->recordBar()->summary()));
        if (!channel->scene()->recorder().status().error.empty())
            status = 1;
    }
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
    if (!options.report.isEmpty())
        writeReport();
    // Every channel's window: the run ends when the last channel has closed.
    for (QWidget* top : QApplication::topLevelWidgets())
        if (qobject_cast<Qt4DisplaySceneVisualizer*>(top))
            top->close(); // the host hears the request and closes the channel
}

// key=value lines about what the window showed, for scripts.
void HeadlessRun::writeReport()
{
    QFile file(options.report);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        status = 1;
        return;
    }
    Qt4DisplaySceneVisualizer* window = channel->window();
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
        << "canvas=" << origin.x() << "," << origin.y() << "," << canvas->width() << "," << canvas->height() << "\n"
        << "sceneCanvas=" << channel->scene()->view().canvasWidth << "," << channel->scene()->view().canvasHeight
        << "\n"
        << "framesShown=" << channel->scene()->statistics().framesRecycled << "\n";
    const auto levels = channel->scene()->levelsInUse();
    out << "levels=" << levels.minimum << "," << levels.maximum << "\n";
}
