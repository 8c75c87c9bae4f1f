#include "ViewerSources.h"

#include "vexo-lib-display/SimulatorSource.h"

#ifdef VEXO_HAVE_CAMERA
#include "vexo-camera/CameraSource.h"
#endif

#include <cstdio>

using vexo::core::FrameSource;

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
