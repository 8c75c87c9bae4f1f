#include "ViewerSources.h"

#include "vexo-lib-display/FileSource.h"
#include "vexo-lib-display/SimulatorSource.h"

#ifdef VEXO_HAVE_CAMERA
#include "vexo-camera/CameraSource.h"
#endif

#ifdef VEXO_HAVE_GSTREAMER
#include "vexo-gstreamer/GstSource.h"
#endif

#include <cstdio>

using vexo::core::FrameSource;

namespace {

std::unique_ptr<FrameSource> makeFileSource(const ViewerOptions& options, QString* error)
{
    vexo::core::FileSource::Settings settings;
    settings.path = options.filePath.toStdString();
    settings.framesPerSecond = options.simulator.framesPerSecond;
    settings.loop = options.loop;
    std::unique_ptr<vexo::core::FileSource> files(new vexo::core::FileSource(settings));
    if (!files->isUsable()) {
        *error = QString::fromStdString(files->lastError());
        return nullptr;
    }
    const auto format = files->format();
    std::fprintf(stderr, "files %s: %d frames of %dx%d, %d bits %s\n", qPrintable(options.filePath),
                 files->frameCount(), format.width, format.height, format.bitsPerPixel, format.gray ? "gray" : "RGB");
    return files;
}

std::unique_ptr<FrameSource> makePipelineSource(const ViewerOptions& options, QString* error)
{
#ifdef VEXO_HAVE_GSTREAMER
    using vexo::core::GstSource;
    GstSource::Settings settings;
    settings.pipeline = !options.v4l2Device.isEmpty() ? GstSource::v4l2Pipeline(options.v4l2Device.toStdString())
        : !options.mediaFile.isEmpty()                ? GstSource::mediaPipeline(options.mediaFile.toStdString())
                                                      : options.pipeline.toStdString();
    settings.bits = options.pipelineBits;
    settings.loop = options.loop;
    std::unique_ptr<GstSource> pipeline(new GstSource(settings));
    if (!pipeline->isUsable()) {
        *error = QString::fromStdString(pipeline->lastError());
        return nullptr;
    }
    const auto format = pipeline->format();
    std::fprintf(stderr, "pipeline %s: %s %dx%d\n", settings.pipeline.c_str(), pipeline->formatName().c_str(),
                 format.width, format.height);
    return pipeline;
#else
    (void)options;
    *error = QStringLiteral("built without GStreamer");
    return nullptr;
#endif
}

std::unique_ptr<FrameSource> makeCameraSource(const ViewerOptions& options, QString* error)
{
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
    (void)options;
    *error = QStringLiteral("built without camera support");
    return nullptr;
#endif
}

} // namespace

std::unique_ptr<FrameSource> makeSource(const ViewerOptions& options, QString* error)
{
    switch (options.source) {
    case ViewerOptions::Source::Camera:
        return makeCameraSource(options, error);
    case ViewerOptions::Source::File:
        return makeFileSource(options, error);
    case ViewerOptions::Source::Pipeline:
        return makePipelineSource(options, error);
    case ViewerOptions::Source::Simulator:
        break;
    }
    return std::unique_ptr<FrameSource>(new vexo::core::SimulatorSource(options.simulator));
}

int listCameras(const ViewerOptions& options)
{
#ifdef VEXO_HAVE_CAMERA
    using vexo::core::CameraSource;
    if (options.fakeCamera)
        CameraSource::enableFakeCamera();
    const auto cameras = CameraSource::listCameras();
    for (const CameraSource::Camera& c : cameras)
        std::printf("%s\t%s\t%s\t%s\t%s\t%s\n", c.id.c_str(), c.vendor.c_str(), c.model.c_str(), c.serial.c_str(),
                    c.protocol.c_str(), c.address.c_str());
    if (cameras.empty())
        std::fprintf(stderr, "no camera found\n");
    return 0;
#else
    (void)options;
    return 2;
#endif
}
