// Creates a display window on an installed library, shows a frame pushed into a scene and
// exits 0 when the window has handed it back.

#include <display/Qt4DisplaySceneVisualizer.h>
#include <vexo-lib-display/DisplayScene.h>
#include <vexo-lib-display/FrameBuffer.h>
#include <vexo-lib-display/ManualFrameSource.h>

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace vexo::core;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    auto scene = DisplayScene::create({64, 48, 8, true}, 4);
    std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 0, 0));
    scene->attachVisualizer(window.get());
    window->show();
    static_cast<ManualFrameSource&>(scene->source()).pushFrame([](FrameBuffer& b) {
        b.setPixelValueGray(1, 1, 200);
    });
    scene->startGrabbing(1);

    int status = 1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!scene->isGrabbing() && scene->statistics().framesRecycled > 0) {
            status = 0;
            app.quit();
        }
    });
    poll.start(10);
    QTimer::singleShot(20000, &app, [&] { app.quit(); });
    app.exec();
    scene->detachVisualizer(window.get());
    std::printf("outside host: %s\n", status == 0 ? "frame shown" : "no frame");
    return status;
}
