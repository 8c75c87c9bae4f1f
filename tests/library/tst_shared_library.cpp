// A host that links only the shared library and its public headers, as an application does.

#include "display/Qt4DisplaySceneVisualizer.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/DisplaySceneFrame.h"

#include <QtTest>

#include <memory>
#include <thread>

using vexo::core::DisplayScene;
using vexo::core::DisplaySceneFrame;
using vexo::core::Qt4DisplaySceneVisualizer;
using vexo::core::SceneCall;

class TestSharedLibrary : public QObject
{
    Q_OBJECT

private slots:
    void hostCreatesAndAttachesAWindow();
};

void TestSharedLibrary::hostCreatesAndAttachesAWindow()
{
    auto scene = DisplayScene::create({320, 200, 8, true});
    int freed = 0;
    scene->setCallObserver([&](const SceneCall& call) {
        if (call.operation == SceneCall::FreeSceneFrame)
            ++freed;
    });
    std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 1, 3));
    QVERIFY(qobject_cast<QMainWindow*>(window.get()));
    QCOMPARE(window->metaObject()->className(), "vexo::core::Qt4DisplaySceneVisualizer");
    scene->attachVisualizer(window.get());
    QCOMPARE(window->scene(), scene);

    std::thread([&] {
        window->notifySceneFrameChanged(boost::shared_ptr<DisplaySceneFrame>(new DisplaySceneFrame(4, 4)), 1.0);
    }).join();
    QTRY_COMPARE(freed, 1);
    scene->detachVisualizer(window.get());
}

QTEST_MAIN(TestSharedLibrary)
#include "tst_shared_library.moc"
