#pragma once

#include "vexo-lib-display/DisplayLevels.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <QString>
#include <QStringList>

// What the viewer was asked to do on its command line.
struct ViewerOptions
{
    int boards = 1;
    int dmaChannels = 1;
    vexo::core::SimulatorSource::Settings simulator;

    // --source: where the frames come from.
    enum class Source { Simulator, Camera, File, Pipeline };
    Source source = Source::Simulator;
    bool camera() const { return source == Source::Camera; }

    // --source file:PATH: TIFF files replayed at the --fps rate, once or looped.
    QString filePath;
    bool loop = false;

    // --source gst:PIPELINE, v4l2:DEVICE or media:PATH: one of the three is set; --bits
    // are the significant bits of 16-bit gray, --loop plays a media file again.
    QString pipeline;
    QString v4l2Device;
    QString mediaFile;
    int pipelineBits = 16;

    // --source camera[:ID]
    QString cameraId; // empty: the first camera found
    QString pixelFormat; // empty: the camera's own
    int cameraWidth = 0; // 0: the camera's own size
    int cameraHeight = 0;
    double cameraFps = 0; // 0: the camera's own rate
    bool fakeCamera = false; // Aravis's in-process fake camera is offered too
    bool listCameras = false;
    int bufferCount = 16;
    QString configFile;

    // --levels auto or MIN,MAX: the display range of every channel (default: Default).
    vexo::core::DisplayLevels levels;

    // Headless run: grab until this many frames were shown, then stop (0: interactive).
    int grabFrames = 0;
    QString screenshot; // PNG of the first window (and its tool windows beside it)
    bool openTools = false;
    QString saveFrame; // TIFF of the newest stored frame after the grab
    QString report; // key=value lines about what the window showed

    // --record DIR: every frame stored goes to disk from the start (numbered TIFF files,
    // or one BigTIFF); headless, --grab-frames frames are recorded.
    QString recordFolder;
    bool recordBigTiff = false;

    // Parses the arguments; on an error returns false with a message.
    bool parse(const QStringList& arguments, QString* error);
};
