// The acquisition scene: modes, drops, frames arriving line by line, rendering for a
// visualizer, and the life of its threads.

#include "RuntimeTestSupport.h"

#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/RingSize.h"
#include "vexo-lib-display/SceneRenderer.h"

#include <QtTest>

using namespace vexo::core;

namespace {

// A frame whose pixel (x, y) is value(x, y).
ManualFrameSource::Fill picture(std::function<std::uint64_t(int, int)> value)
{
    return [value](FrameBuffer& b) {
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x)
                b.setPixelValueGray(x, y, value(x, y));
    };
}

} // namespace

class TestDisplayScene : public QObject
{
    Q_OBJECT

private slots:
    void grabbingModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("ringSize");
        QTest::addColumn<int>("expectedStored"); // -1: until stopped
        QTest::newRow("sequence, smallest ring") << 0 << RingSize::minimum << RingSize::minimum;
        QTest::newRow("single") << 1 << 5 << 1;
        QTest::newRow("infinite") << -1 << 4 << -1;
    }

    void grabbingModes()
    {
        QFETCH(int, mode);
        QFETCH(int, ringSize);
        QFETCH(int, expectedStored);
        SceneRig rig(simulatorScene({64, 8, 8, true}, ringSize));
        auto& [scene, visualizer] = rig;
        scene->startGrabbing(mode);
        if (expectedStored < 0) {
            QTRY_VERIFY(visualizer.count("buffer") > 3 * ringSize);
            scene->stopGrabbing();
        }
        QTRY_COMPARE(visualizer.count("stopped"), 1);
        QVERIFY(!scene->isGrabbing());
        // Nothing held the buffers, so nothing was dropped and frame indices count from 0.
        const int buffers = expectedStored < 0 ? visualizer.count("buffer") : expectedStored;
        QCOMPARE(story(visualizer), run(buffers));
        QCOMPARE(scene->statistics().framesDropped, std::uint64_t(0));
        QCOMPARE(scene->getValidBufferCount(), std::min(buffers, ringSize));
        QCOMPARE(scene->frameBufferGroup()->frameCounter(), std::int64_t(buffers));
        // A second start begins a new acquisition: indices restart at 0.
        scene->startGrabbing(1);
        QTRY_COMPARE(visualizer.count("stopped"), 2);
        QCOMPARE(story(visualizer), run(buffers) + " " + run(1));
        QCOMPARE(scene->getValidBufferCount(), 1);
    }

    void sequenceKeepsAllItAsksFor_data()
    {
        QTest::addColumn<int>("ringSize");
        QTest::addColumn<bool>("shown"); // the last run's frame held by the display, or by the test
        QTest::newRow("buffer held") << 4 << false;
        QTest::newRow("frame shown, smallest ring") << RingSize::minimum << true;
    }

    // A slot of the run before stays busy until the sequence lost a frame for want of it; the
    // sequence still ends with as many frames as the ring holds, all its own, and counts the drops.
    void sequenceKeepsAllItAsksFor()
    {
        QFETCH(int, ringSize);
        QFETCH(bool, shown);
        SceneRig rig(DisplayScene::create({16, 4, 8, true}, ringSize), {16, 4}, shown);
        auto& [scene, visualizer] = rig;
        const auto group = scene->frameBufferGroup();
        scene->startGrabbing(1);
        pushComplete(manual(scene));
        QTRY_VERIFY(visualizer.count("stopped") == 1 && (!shown || visualizer.newestFrame()));
        auto held = shown ? nullptr : group->buffer(0);
        scene->setVisualizerVisible(false); // nothing newer is shown, so the display keeps its slot
        scene->startGrabbing(0);
        for (int i = 0; i < ringSize; ++i)
            pushComplete(manual(scene));
        QTRY_VERIFY(scene->statistics().framesDropped > 0);
        held.reset();
        scene->setVisualizerVisible(true);
        // One frame at a time, until the sequence has what it asked for.
        const auto topUp = [&] {
            if (manual(scene).pendingFrames() == 0)
                pushComplete(manual(scene));
            return !scene->isGrabbing();
        };
        QTRY_VERIFY(topUp());
        // Each frame announced is still stored: none was given up for a later one.
        QCOMPARE(QList<int>({group->size(), int(group->frameCounter()), visualizer.count("buffer") - 1}),
                 QList<int>({ringSize, ringSize, ringSize}));
        // Every index missing from the run is a frame reported as dropped.
        const std::int64_t last = group->buffer(ringSize - 1)->frameIndex();
        QCOMPARE(scene->statistics().framesDropped, std::uint64_t(last + 1 - ringSize));
    }

    void dropsWhileAReaderHoldsTheRing()
    {
        // A save in progress read-locks the group: acquisition drops frames rather than wait.
        // (Every slot held by readers takes the same path here; the group's own test has it.)
        SceneRig rig(simulatorScene({32, 4, 8, true}, 4));
        auto& [scene, visualizer] = rig;
        auto group = scene->frameBufferGroup();
        QVERIFY(group->try_readlock());
        scene->startGrabbing(-1);
        QTRY_VERIFY(scene->statistics().framesDropped >= 5);
        QCOMPARE(scene->statistics().framesAcquired, std::uint64_t(0));
        // The overflow is reported through the camera status.
        QTRY_VERIFY(visualizer.count("status", true) > 0);
        group->unlock();
        QTRY_VERIFY(visualizer.count("buffer") > 0);
        scene->stopGrabbing();
        QTRY_VERIFY(!scene->isGrabbing());
        // Dropped frames leave a gap in the indices; every stored frame was announced.
        const QStringList told = story(visualizer).split(' ');
        QVERIFY2(told.at(1).toInt() >= 5, qPrintable(told.join(' ')));
        QCOMPARE(std::uint64_t(visualizer.count("buffer")), scene->statistics().framesAcquired);
    }

    void frameArrivingLineByLine()
    {
        SceneRig rig(DisplayScene::create({8, 16, 12, true}, 3), {8, 16}, true);
        auto& [scene, visualizer] = rig;
        manual(scene).pushFrame(picture([](int x, int y) { return 100 * y + x; }), 4);
        scene->startGrabbing(1);
        QVERIFY(scene->isGrabbing()); // at once, and until the stepped frame is complete
        auto group = scene->frameBufferGroup();

        for (int lastLine = 3; lastLine < 15; lastLine += 4) {
            const auto published = [&] {
                int x = -1, y = -1;
                if (auto arriving = group->bufferInProgress())
                    arriving->lastValidPixel(&x, &y);
                return y == lastLine && x == 7;
            };
            QTRY_VERIFY(published());
            auto arriving = group->bufferInProgress();
            // The shown canvas has the arrived lines and background below them.
            const auto shown = [&] {
                auto frame = visualizer.newestFrame();
                return frame && frame->frameBuffer() == arriving
                       && frame->canvasLine(lastLine + 1)[7] == SceneRenderer::backgroundColor
                       && frame->canvasLine(lastLine)[7] == 0xff000000u + 0x010101u * ((100 * lastLine + 7) >> 4);
            };
            QTRY_VERIFY(shown());
            QCOMPARE(scene->getValidBufferCount(), 0); // not stored until complete
            manual(scene).releaseStep();
        }
        QTRY_VERIFY(!scene->isGrabbing());
        QVERIFY(scene->getValidBufferCount() == 1 && !group->bufferInProgress());
        QCOMPARE(group->buffer(0)->transferLength(), std::uint64_t(8 * 16 * 12 / 8));
    }

    void idleRendering_data()
    {
        QTest::addColumn<QList<int>>("selected"); // buffer numbers chosen in turn; 0: none
        QTest::addColumn<int>("zoom");
        QTest::addColumn<int>("probeX"); // canvas (probeX, 5): image x 5 on line 3 (4:1) or 7 (1:1)
        QTest::newRow("newest, 4:1 at (3, 2)") << QList<int>{0} << 8 << 9;
        QTest::newRow("selected buffers, 1:1 at (3, 2)") << QList<int>{1, 3, 2} << 6 << 2;
    }

    void idleRendering()
    {
        QFETCH(QList<int>, selected);
        QFETCH(int, zoom);
        QFETCH(int, probeX);
        // Invisible at first: nothing is rendered whatever happens.
        SceneRig rig(DisplayScene::create({40, 30, 8, true}, 3), {}, true);
        auto& [scene, visualizer] = rig;
        scene->setCanvasSize(20, 10);
        scene->startGrabbing(0);
        for (std::uint32_t k = 0; k < 3; ++k)
            manual(scene).pushFrame(picture([k](int x, int y) { return (3 * x + 5 * y + 50 * k) % 256; }));
        QTRY_VERIFY(!scene->isGrabbing());
        QCOMPARE(visualizer.count("frame"), 0);

        scene->setZoomFactorAndOffset(zoom, 3, 2);
        scene->setVisualizerVisible(true);
        for (int number : selected) {
            if (number > 0)
                scene->setBuffer(number);
            // Buffer 1 is the oldest stored frame (index 0); none chosen shows the newest.
            const std::uint32_t index = number > 0 ? std::uint32_t(number - 1) : 2u;
            const auto shows = [&] {
                auto f = visualizer.newestFrame();
                return f && f->zoomValue() == zoom && f->frameBuffer() && f->frameBuffer()->frameIndex() == index;
            };
            QTRY_VERIFY(shows());
            auto frame = visualizer.newestFrame();
            QCOMPARE(QRect(frame->minX(), frame->minY(), frame->width(), frame->height()), QRect(3, 2, 20, 10));
            QCOMPARE(QPoint(frame->pixelSize(), frame->stepSize()), QPoint(zoom == 8 ? 4 : 1, 1));
            const std::uint32_t v = (3 * 5 + 5 * (zoom == 8 ? 3 : 7) + 50 * index) % 256;
            QCOMPARE(frame->canvasLine(5)[probeX], 0xff000000u | v << 16 | v << 8 | v);
        }
        // Every frame handed out came back, and each went to the visualizer on a scene thread.
        QTRY_COMPARE(scene->statistics().framesRecycled, scene->statistics().framesRendered);
        QCOMPARE(visualizer.count("frame", false, std::this_thread::get_id()), 0);
    }

    void steadyRenderingThenDetach_data()
    {
        QTest::addColumn<bool>("keepShown"); // as a window keeps the frame it shows, at the smallest ring
        QTest::newRow("frames handed back") << false;
        QTest::newRow("shown frame kept") << true;
    }

    void steadyRenderingThenDetach()
    {
        QFETCH(bool, keepShown);
        SceneRig rig(simulatorScene({16, 4, 8, true}, keepShown ? RingSize::minimum : 4), {16, 4}, keepShown);
        auto& [scene, visualizer] = rig;
        scene->setStatusPeriod(10);
        scene->startGrabbing(-1);
        QTRY_VERIFY(visualizer.count("buffer") >= 3 && visualizer.count("status") >= 2
                    && visualizer.count("frame") >= 1);
        // Attachment callbacks came on this thread, the others on the scene's threads.
        const auto here = std::this_thread::get_id();
        QVERIFY(visualizer.count("attached", false, here) && visualizer.count("sources", false, here));
        for (const char* name : {"buffer", "status", "frame", "started"})
            QVERIFY2(!visualizer.count(name, false, here), name);

        // Rendering every frame, the canvases handed back are used again.
        scene->setRenderRateLimit(0);
        QTRY_VERIFY(scene->statistics().framesRendered >= 20);
        const auto before = scene->statistics();
        QTRY_VERIFY(scene->statistics().framesRendered >= before.framesRendered + 50);
        QCOMPARE(scene->statistics().canvasesAllocated, before.canvasesAllocated);
        QVERIFY(before.canvasesAllocated <= 2);

        scene->detachVisualizer(&visualizer);
        QVERIFY(!visualizer.scene());
        const std::size_t seen = visualizer.calls().size();
        const std::uint64_t acquired = scene->statistics().framesAcquired;
        QTRY_VERIFY(scene->statistics().framesAcquired >= acquired + 5);
        QCOMPARE(visualizer.calls().size(), seen);
        scene->stopGrabbing();
        // The visualizer leased one slot and the render thread one: the writer always found
        // one. Once the visualizer lets go, an idle canvas keeps none.
        QCOMPARE(scene->statistics().framesDropped, std::uint64_t(0));
        visualizer.forgetFrame();
        QTRY_COMPARE(scene->frameBufferGroup()->busyCount(), 0);
    }

    void sceneReleasedInsideCallback()
    {
        // The host lets go of the scene while a callback on the acquisition thread holds the
        // last reference: the scene then ends on its own thread without deadlock.
        SceneRig rig(simulatorScene({16, 4, 8, true}, 4));
        auto& [scene, visualizer] = rig;
        std::atomic<bool> inside{false}, hostReleased{false}, once{false}, sceneEnded{false};
        visualizer.onBuffer = [&](const boost::shared_ptr<FrameBuffer>&) {
            if (once.exchange(true))
                return;
            boost::shared_ptr<DisplayScene> last = rig.visualizer.scene();
            inside = true;
            while (!hostReleased.load())
                std::this_thread::yield();
            last.reset(); // the scene ends here, on the acquisition thread
            sceneEnded = true;
        };
        boost::weak_ptr<DisplayScene> watch = scene;
        scene->startGrabbing(-1);
        QTRY_VERIFY(inside.load());
        scene.reset();
        hostReleased = true;
        QTRY_VERIFY(watch.expired());
        // The visualizer is let go only once no other scene thread is calling it; the scene's
        // end (detach, its threads joined) is over when the callback returns.
        QTRY_VERIFY(sceneEnded.load());
        QVERIFY(!visualizer.scene());
    }

    void stopRightAfterStart()
    {
        // Whether or not the acquisition thread took the start up before the stop, the scene
        // ends idle and its notifications, if any, come in pairs.
        SceneRig rig(DisplayScene::create({8, 8, 8, true}, 3));
        for (int i = 0; i < 20; ++i) {
            rig.scene->startGrabbing(-1);
            rig.scene->stopGrabbing();
            QTRY_VERIFY(!rig.scene->isGrabbing());
        }
        QTRY_COMPARE(rig.visualizer.count("started"), rig.visualizer.count("stopped"));
    }
};

QTEST_GUILESS_MAIN(TestDisplayScene)
#include "tst_display_scene.moc"
