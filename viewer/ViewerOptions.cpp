#include "ViewerOptions.h"

#include "vexo-lib-display/RingSize.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>
#include <limits>

namespace {

// A whole number from minimum to maximum; otherwise false with a message naming the
// option, the value given and the range, e.g. "--bits 17: bits per value must be 1 to 16".
bool inRange(const QCommandLineParser& parser, const QCommandLineOption& option, const char* what, int minimum,
             int maximum, int* out, QString* error)
{
    const QString text = parser.value(option);
    bool ok = false;
    const int value = text.toInt(&ok);
    if (ok && value >= minimum && value <= maximum) {
        *out = value;
        return true;
    }
    const QString range = maximum == std::numeric_limits<int>::max()
        ? QStringLiteral("at least %1").arg(minimum)
        : QStringLiteral("%1 to %2").arg(minimum).arg(maximum);
    *error =
        QStringLiteral("--%1 %2: %3 must be %4").arg(option.names().constFirst(), text, QLatin1String(what), range);
    return false;
}

// "auto", or "MIN,MAX" with 0 <= MIN < MAX <= 65535; otherwise false with a message.
bool parseLevels(const QString& text, vexo::core::DisplayLevels* levels, QString* error)
{
    using vexo::core::DisplayLevels;
    if (text == QLatin1String("auto")) {
        *levels = DisplayLevels::automatic();
        return true;
    }
    const QStringList parts = text.split(QLatin1Char(','));
    bool minOk = false;
    bool maxOk = false;
    const int minimum = parts.size() == 2 ? parts[0].trimmed().toInt(&minOk) : 0;
    const int maximum = parts.size() == 2 ? parts[1].trimmed().toInt(&maxOk) : 0;
    if (minOk && maxOk && minimum >= 0 && minimum < maximum && maximum <= DisplayLevels::maxValue) {
        *levels = DisplayLevels::manual(minimum, maximum);
        return true;
    }
    *error = QStringLiteral("--levels %1: use auto or MIN,MAX with 0 <= MIN < MAX <= %2")
                 .arg(text)
                 .arg(DisplayLevels::maxValue);
    return false;
}

} // namespace

bool ViewerOptions::parse(const QStringList& arguments, QString* error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Shows acquisition channels in display windows, fed by the built-in camera simulator "
        "or by a GigE Vision / USB3 Vision camera, or replayed from TIFF files.\n"
        "Exit status: 0 done, 1 a file could not be written, 2 bad options or not enough memory,\n"
        "3 the source (camera, files) cannot be used, 4 the source went away before the frames were shown,\n"
        "128 + the signal when ended by SIGTERM or SIGINT."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption boardsOption("boards", "Number of boards (default 1).", "n", "1");
    const QCommandLineOption dmaOption("dma", "DMA channels per board (default 1).", "n", "1");
    const QCommandLineOption widthOption("width", "Image width (default 2048).", "pixels", "2048");
    const QCommandLineOption heightOption("height", "Image height (default 2048).", "pixels", "2048");
    const QCommandLineOption bitsOption("bits", "Bits per value, 1 to 16 (default 12).", "bits", "12");
    const QCommandLineOption colorOption("color", "Colour (RGB) instead of gray.");
    const QCommandLineOption fpsOption("fps", "Frames per second, 0 for as fast as possible (default 30).", "rate",
                                       "30");
    const QCommandLineOption patternOption("pattern", "gradient (moving, default) or chart.", "name", "gradient");
    const QCommandLineOption chunkOption(
        "lines-per-chunk", "Deliver frames a few lines at a time (default 0: whole frames).", "lines", "0");
    const QCommandLineOption buffersOption(
        "buffers",
        QStringLiteral("Frame buffers per channel (default 16, at least %1).").arg(vexo::core::RingSize::minimum), "n",
        "16");
    const QCommandLineOption configOption("config", "Configuration file (default: the user's).", "file");
    const QCommandLineOption grabOption("grab-frames", "Headless: grab until <n> frames were shown, then stop.", "n");
    const QCommandLineOption screenshotOption("screenshot", "Headless: save a PNG of the window to <file> and exit.",
                                              "file");
    const QCommandLineOption toolsOption("tools", "Open the line profile and line histogram windows.");
    const QCommandLineOption saveOption("save-frame", "Headless: save the newest frame as TIFF to <file>.", "file");
    const QCommandLineOption reportOption("report", "Headless: write what the window showed to <file>.", "file");
    const QCommandLineOption sourceOption(
        "source",
        "simulator (default); camera[:ID] (the first camera without an ID); or file:PATH, TIFF files replayed at "
        "--fps (0: as fast as shown): one file (all its pages), a series as \"save sequence\" writes it, named by "
        "any of its files (run00003.tif) or by a pattern with # for the number (run#.tif); "
        "gst:PIPELINE, any GStreamer pipeline (gst:\"videotestsrc pattern=ball\"), completed to end in frames "
        "the window shows; v4l2:DEVICE, a webcam (v4l2:/dev/video0); media:PATH, a video file played back.",
        "source", "simulator");
    const QCommandLineOption loopOption("loop",
                                        "File and media sources: start again after the last frame "
                                        "instead of ending.");
    const QCommandLineOption listOption("list-cameras", "List the cameras found and exit.");
    const QCommandLineOption pixelFormatOption(
        "pixel-format", "Camera: pixel format to set (Mono8, Mono10, Mono12, Mono16, RGB8, BGR8, Bayer..8).", "name");
    const QCommandLineOption recordOption(
        "record",
        "Record every frame to <folder> from the start, as numbered TIFF files (frame00000.tif, ...) that "
        "--source file: replays; headless, --grab-frames frames are recorded, then the run ends.",
        "folder");
    const QCommandLineOption bigTiffOption("record-bigtiff", "With --record: one multi-page BigTIFF (frame.tif).");
    const QCommandLineOption fakeOption("fake-camera",
                                        "Offer the camera library's in-process fake camera (id Fake_1).");
    parser.addOptions({boardsOption,      dmaOption,     widthOption, heightOption,  bitsOption,   colorOption,
                       fpsOption,         patternOption, chunkOption, buffersOption, configOption, grabOption,
                       screenshotOption,  toolsOption,   saveOption,  reportOption,  sourceOption, listOption,
                       pixelFormatOption, fakeOption,    loopOption,  recordOption,  bigTiffOption});
    const QCommandLineOption levelsOption("levels",
                                          "Display range: auto (each frame's 0.1% to 99.9% percentiles) or MIN,MAX "
                                          "(MIN shown black, MAX white; default: the bit depth's whole range).",
                                          "range");
    parser.addOption(levelsOption);
    // An unknown option is a bad option like any other (process() alone would exit 1,
    // the status of a file that could not be written); help and the version end here.
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    parser.process(arguments);

    vexo::core::FrameFormat& format = simulator.format;
    format.gray = !parser.isSet(colorOption);
    constexpr int any = std::numeric_limits<int>::max();
    if (!inRange(parser, boardsOption, "the number of boards", 1, any, &boards, error)
        || !inRange(parser, dmaOption, "the number of DMA channels", 1, any, &dmaChannels, error)
        || !inRange(parser, widthOption, "the width", 1, any, &format.width, error)
        || !inRange(parser, heightOption, "the height", 1, any, &format.height, error)
        || !inRange(parser, bitsOption, "bits per value", 1, 16, &format.bitsPerPixel, error)
        || !inRange(parser, buffersOption, "the number of buffers", vexo::core::RingSize::minimum, any, &bufferCount,
                    error)
        || !inRange(parser, chunkOption, "lines per chunk", 0, any, &simulator.linesPerChunk, error))
        return false;
    bool ok = false;
    simulator.framesPerSecond = parser.value(fpsOption).toDouble(&ok);
    if (!ok || !(simulator.framesPerSecond >= 0) || std::isinf(simulator.framesPerSecond)) {
        *error = QStringLiteral("--fps %1: the frame rate must be a number of at least 0").arg(parser.value(fpsOption));
        return false;
    }
    const QString pattern = parser.value(patternOption);
    if (pattern == QLatin1String("gradient")) {
        simulator.pattern = vexo::core::SimulatorSource::Pattern::MovingGradient;
    } else if (pattern == QLatin1String("chart")) {
        simulator.pattern = vexo::core::SimulatorSource::Pattern::TestChart;
    } else {
        *error = QStringLiteral("unknown pattern %1").arg(pattern);
        return false;
    }
    configFile = parser.value(configOption);
    if (parser.isSet(levelsOption) && !parseLevels(parser.value(levelsOption), &levels, error))
        return false;
    if (parser.isSet(grabOption) && !inRange(parser, grabOption, "the number of frames", 1, any, &grabFrames, error))
        return false;
    const QString source = parser.value(sourceOption);
    if (source == QLatin1String("camera") || source.startsWith(QLatin1String("camera:"))) {
        this->source = Source::Camera;
        cameraId = source.mid(7);
    } else if (source.startsWith(QLatin1String("file:")) && source.size() > 5) {
        this->source = Source::File;
        filePath = source.mid(5);
    } else if (source.startsWith(QLatin1String("gst:")) && source.size() > 4) {
        this->source = Source::Pipeline;
        pipeline = source.mid(4);
    } else if (source.startsWith(QLatin1String("v4l2:")) && source.size() > 5) {
        this->source = Source::Pipeline;
        v4l2Device = source.mid(5);
    } else if (source.startsWith(QLatin1String("media:")) && source.size() > 6) {
        this->source = Source::Pipeline;
        mediaFile = source.mid(6);
    } else if (source == QLatin1String("simulator")) {
        this->source = Source::Simulator;
    } else {
        *error = QStringLiteral("unknown source %1; use simulator, camera[:ID], file:PATH, gst:PIPELINE, "
                                "v4l2:DEVICE or media:PATH")
                     .arg(source);
        return false;
    }
    if (parser.isSet(bitsOption))
        pipelineBits = format.bitsPerPixel;
    loop = parser.isSet(loopOption);
    if (loop && this->source != Source::File && mediaFile.isEmpty()) {
        *error = QStringLiteral("--loop: only files are replayed; use --source file:PATH or media:PATH");
        return false;
    }
    listCameras = parser.isSet(listOption);
    fakeCamera = parser.isSet(fakeOption);
    pixelFormat = parser.value(pixelFormatOption);
    // The camera keeps its own size and rate unless they are asked for.
    if (parser.isSet(widthOption) && parser.isSet(heightOption)) {
        cameraWidth = format.width;
        cameraHeight = format.height;
    }
    if (parser.isSet(fpsOption))
        cameraFps = simulator.framesPerSecond;
    if (this->source != Source::Simulator && boards * dmaChannels != 1) {
        *error = QStringLiteral("a camera, file or pipeline feeds one channel; use --boards 1 --dma 1");
        return false;
    }
#ifndef VEXO_HAVE_GSTREAMER
    if (this->source == Source::Pipeline) {
        *error =
            QStringLiteral("%1: this viewer was built without GStreamer, so the source is not available").arg(source);
        return false;
    }
#endif
#ifndef VEXO_HAVE_CAMERA
    if (camera() || listCameras || fakeCamera) {
        *error = QStringLiteral("this viewer was built without camera support (Aravis was not found)");
        return false;
    }
#endif
    screenshot = parser.value(screenshotOption);
    openTools = parser.isSet(toolsOption);
    saveFrame = parser.value(saveOption);
    report = parser.value(reportOption);
    recordFolder = parser.value(recordOption);
    recordBigTiff = parser.isSet(bigTiffOption);
    if (recordBigTiff && recordFolder.isEmpty()) {
        *error = QStringLiteral("--record-bigtiff: name the folder with --record");
        return false;
    }
    return true;
}
