#include "ViewerOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

bool positive(const QString& text, int minimum, int* out)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < minimum)
        return false;
    *out = value;
    return true;
}

} // namespace

bool ViewerOptions::parse(const QStringList& arguments, QString* error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Shows acquisition channels in display windows, on the built-in camera simulator."));
    parser.addHelpOption();
    const QCommandLineOption boardsOption("boards", "Number of boards (default 1).", "n", "1");
    const QCommandLineOption dmaOption("dma", "DMA channels per board (default 1).", "n", "1");
    const QCommandLineOption widthOption("width", "Image width (default 2048).", "pixels", "2048");
    const QCommandLineOption heightOption("height", "Image height (default 2048).", "pixels", "2048");
    const QCommandLineOption bitsOption("bits", "Bits per value, 1 to 16 (default 12).", "bits", "12");
    const QCommandLineOption colorOption("color", "Colour (RGB) instead of gray.");
    const QCommandLineOption fpsOption("fps", "Frames per second, 0 for as fast as possible (default 30).", "rate", "30");
    const QCommandLineOption patternOption("pattern", "gradient (moving, default) or chart.", "name", "gradient");
    const QCommandLineOption chunkOption("lines-per-chunk", "Deliver frames a few lines at a time (default 0: whole frames).", "lines", "0");
    const QCommandLineOption buffersOption("buffers", "Frame buffers per channel (default 16).", "n", "16");
    const QCommandLineOption configOption("config", "Configuration file (default: the user's).", "file");
    const QCommandLineOption grabOption("grab-frames", "Headless: grab until <n> frames were shown, then stop.", "n");
    const QCommandLineOption screenshotOption("screenshot", "Headless: save a PNG of the window to <file> and exit.", "file");
    const QCommandLineOption toolsOption("tools", "Open the line profile and line histogram windows.");
    const QCommandLineOption saveOption("save-frame", "Headless: save the newest frame as TIFF to <file>.", "file");
    const QCommandLineOption reportOption("report", "Headless: write what the window showed to <file>.", "file");
    parser.addOptions({boardsOption, dmaOption, widthOption, heightOption, bitsOption, colorOption,
                       fpsOption, patternOption, chunkOption, buffersOption, configOption, grabOption,
                       screenshotOption, toolsOption, saveOption, reportOption});
    parser.process(arguments);

    vexo::core::FrameFormat& format = simulator.format;
    format.gray = !parser.isSet(colorOption);
    if (!positive(parser.value(boardsOption), 1, &boards) || !positive(parser.value(dmaOption), 1, &dmaChannels)
        || !positive(parser.value(widthOption), 1, &format.width)
        || !positive(parser.value(heightOption), 1, &format.height)
        || !positive(parser.value(bitsOption), 1, &format.bitsPerPixel) || format.bitsPerPixel > 16
        || !positive(parser.value(buffersOption), 1, &bufferCount)
        || !positive(parser.value(chunkOption), 0, &simulator.linesPerChunk)) {
        *error = QStringLiteral("invalid number in the options; see --help");
        return false;
    }
    bool ok = false;
    simulator.framesPerSecond = parser.value(fpsOption).toDouble(&ok);
    if (!ok || simulator.framesPerSecond < 0) {
        *error = QStringLiteral("invalid frame rate");
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
    if (parser.isSet(grabOption) && !positive(parser.value(grabOption), 1, &grabFrames)) {
        *error = QStringLiteral("invalid --grab-frames");
        return false;
    }
    screenshot = parser.value(screenshotOption);
    openTools = parser.isSet(toolsOption);
    saveFrame = parser.value(saveOption);
    report = parser.value(reportOption);
    return true;
}
