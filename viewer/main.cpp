// The host application: one display window on an acquisition scene.

#include "display/Qt4DisplaySceneVisualizer.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <memory>

using vexo::core::DisplayScene;
using vexo::core::FrameSource;
using vexo::core::Qt4DisplaySceneVisualizer;
using vexo::core::SimulatorSource;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vexo-display-viewer"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows an acquisition channel in a display window."));
    parser.addHelpOption();
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Save a PNG of the window to <file> and exit."),
                                        QStringLiteral("file"));
    parser.addOption(screenshot);
    const QCommandLineOption grabFrames(QStringLiteral("grab-frames"),
                                        QStringLiteral("Grab until <n> frames have been shown, stop, then take the screenshot."),
                                        QStringLiteral("n"));
    parser.addOption(grabFrames);
    parser.process(app);

    // The built-in simulator: 2048 x 2048, 12-bit gray, 30 frames per second.
    SimulatorSource::Settings simulator;
    simulator.format = {2048, 2048, 12, true};
    simulator.framesPerSecond = 30;
    boost::shared_ptr<DisplayScene> scene =
        DisplayScene::create(std::unique_ptr<FrameSource>(new SimulatorSource(simulator)));

    std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 0, 0));
    scene->attachVisualizer(window.get());
    window->setWindowTitle(QStringLiteral("Display - Device 0, DMA 0"));
    window->show();

    int status = 0;
    const auto takeScreenshot = [&] {
        const QString file = parser.value(screenshot);
        if (!window->grab().save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            status = 1;
        }
        app.quit();
    };
    const std::uint64_t framesWanted = parser.value(grabFrames).toULongLong();
    QTimer poll;
    if (framesWanted > 0) {
        // The frames the window handed back to the scene are the frames it has handled.
        QObject::connect(&poll, &QTimer::timeout, &app, [&] {
            if (scene->isGrabbing() && scene->statistics().framesRecycled >= framesWanted) {
                window->internalStopButtonClicked();
            } else if (!scene->isGrabbing() && scene->getValidBufferCount() > 0) {
                poll.stop();
                // Let the window handle the stop and show the last buffer first.
                QTimer::singleShot(300, &app, [&] {
                    if (parser.isSet(screenshot))
                        takeScreenshot();
                    else
                        app.quit();
                });
            }
        });
        poll.start(20);
        QTimer::singleShot(0, window.get(), [&] { window->internalGrabInfiniteButtonClicked(); });
    } else if (parser.isSet(screenshot)) {
        QTimer::singleShot(0, &app, takeScreenshot);
    }
    const int result = app.exec();
    scene->detachVisualizer(window.get());
    return status ? status : result;
}
