#include "SourceWatch.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameSource.h"

#include <QMainWindow>
#include <QStatusBar>

#include <algorithm>
#include <cmath>
#include <cstdio>

using vexo::core::DisplayScene;

namespace {
constexpr int pollMilliseconds = 100;
}

SourceWatch::SourceWatch(const boost::shared_ptr<DisplayScene>& scene, QMainWindow* window, const QString& sourceName,
                         std::function<double()> frameTimeMilliseconds)
    : scene(scene)
    , window(window)
    , sourceName(sourceName)
    , frameTime(std::move(frameTimeMilliseconds))
{
    // Acquisition thread: the window is the GUI thread's, so the message is posted there.
    scene->setGrabRefusedObserver([this](const std::string& reason) {
        const QString message = QStringLiteral("cannot grab: %1").arg(QString::fromStdString(reason));
        std::fprintf(stderr, "vexo-display-viewer: %s\n", qPrintable(message));
        QMetaObject::invokeMethod(
            this,
            [this, message] {
                say(message, false);
                emit grabRefused();
            },
            Qt::QueuedConnection);
    });
    connect(&poll, &QTimer::timeout, this, &SourceWatch::look);
    poll.start(pollMilliseconds);
}

SourceWatch::~SourceWatch()
{
    // Waits for a refusal being reported now; what it posted goes with this object.
    scene->setGrabRefusedObserver({});
}

qint64 SourceWatch::allowanceMilliseconds(double frameTimeMilliseconds)
{
    const double frameTime = frameTimeMilliseconds >= 0 ? frameTimeMilliseconds : 1000.0;
    return std::max<qint64>(1000, qint64(std::ceil(10 * frameTime)));
}

void SourceWatch::look()
{
    const DisplayScene::Statistics statistics = scene->statistics();
    // Frames the ring had no room for came all the same.
    const std::uint64_t frames = statistics.framesAcquired + statistics.framesDropped;
    const bool moved = frames != framesSeen;
    framesSeen = frames;
    if (!scene->isGrabbing()) {
        sinceFrame.invalidate();
        reportedSeconds = 0;
        return;
    }
    if (!sinceFrame.isValid())
        allowance = allowanceMilliseconds(frameTime());
    if (!sinceFrame.isValid() || moved) {
        if (reportedSeconds > 0)
            say(QStringLiteral("frames from %1 again").arg(sourceName), true);
        reportedSeconds = 0;
        sinceFrame.start();
        return;
    }
    const qint64 quiet = sinceFrame.elapsed();
    if (quiet < allowance || quiet / 1000 == reportedSeconds)
        return;
    const bool first = reportedSeconds == 0;
    reportedSeconds = quiet / 1000;
    say(QStringLiteral("no frames from %1 for %2 s").arg(sourceName).arg(reportedSeconds), first);
}

void SourceWatch::grabStateChanged()
{
    // A source still there keeps what it said last (a format it refused) for the record.
    if (scene->isGrabbing() || scene->source().status().connected)
        return;
    const std::string why = scene->source().problem();
    if (!why.empty())
        say(QStringLiteral("%1 is gone: %2").arg(sourceName, QString::fromStdString(why)), false);
}

void SourceWatch::say(const QString& message, bool onStderr)
{
    if (onStderr)
        std::fprintf(stderr, "vexo-display-viewer: %s\n", qPrintable(message));
    window->statusBar()->showMessage(message);
}
