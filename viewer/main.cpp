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
    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        QTimer::singleShot(0, &app, [&] {
            if (!window->grab().save(file, "PNG")) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                status = 1;
            }
            app.quit();
        });
    }
    const int result = app.exec();
    scene->detachVisualizer(window.get());
    return status ? status : result;
}
