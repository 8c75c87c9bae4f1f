#include "ChannelTitle.h"

#include "display/Qt4DisplaySceneVisualizer.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FileSource.h"
#include "vexo-lib-display/FrameSource.h"
#include "vexo-lib-display/SimulatorSource.h"

#ifdef VEXO_HAVE_CAMERA
#include "vexo-camera/CameraSource.h"
#endif

#ifdef VEXO_HAVE_GSTREAMER
#include "vexo-gstreamer/GstSource.h"
#endif

using vexo::core::DisplayScene;
using vexo::core::FrameFormat;
using vexo::core::FrameSource;
using vexo::core::Qt4DisplaySceneVisualizer;

ChannelTitle::ChannelTitle(Qt4DisplaySceneVisualizer* window, const boost::weak_ptr<DisplayScene>& scene,
                           const QString& prefix)
    : QObject(window)
    , window(window)
    , scene(scene)
    , prefix(prefix)
{
    connect(window, &Qt4DisplaySceneVisualizer::grabButtonStatusUpdated, this, &ChannelTitle::update);
    connect(&poll, &QTimer::timeout, this, &ChannelTitle::update);
    poll.start(500);
    update();
}

QString ChannelTitle::describe(const FrameSource& source, const FrameFormat& format)
{
    // The simulator's frames are named as a camera would name that format.
    QString what = QStringLiteral("%1%2")
                       .arg(format.gray ? QStringLiteral("Mono") : QStringLiteral("RGB"))
                       .arg(format.bitsPerPixel);
#ifdef VEXO_HAVE_CAMERA
    if (const auto* camera = dynamic_cast<const vexo::core::CameraSource*>(&source))
        what = QStringLiteral("%1 %2").arg(QString::fromStdString(camera->cameraId()),
                                           QString::fromStdString(camera->pixelFormatName()));
#endif
#ifdef VEXO_HAVE_GSTREAMER
    if (const auto* pipeline = dynamic_cast<const vexo::core::GstSource*>(&source))
        what = QStringLiteral("pipeline %1").arg(QString::fromStdString(pipeline->formatName()));
#endif
    if (dynamic_cast<const vexo::core::SimulatorSource*>(&source))
        what.prepend(QStringLiteral("simulator "));
    if (dynamic_cast<const vexo::core::FileSource*>(&source))
        what.prepend(QStringLiteral("files "));
    return QStringLiteral("%1 %2 x %3").arg(what).arg(format.width).arg(format.height);
}

void ChannelTitle::update()
{
    const boost::shared_ptr<DisplayScene> shown = scene.lock();
    const QString title =
        shown ? QStringLiteral("%1 - %2").arg(prefix, describe(shown->source(), shown->format())) : prefix;
    if (window->windowTitle() != title)
        window->setWindowTitle(title);
}
