// The acquisition scene: sequences that drop, frames arriving line by line, rendering for a
// visualizer, and the life of its threads.

#include "RuntimeTestSupport.h"

#include "vexo-lib-display/RingSize.h"
#include "vexo-lib-display/SceneRenderer.h"

#include <QtTest>

#include <chrono>
#include <condition_variable>

using namespace vexo::core;

class TestDisplayScene : public QObject
{
    Q_OBJECT

private slots:
    // The slot of the frame shown from the run before stays busy until the sequence lost a frame
    // for want of it; the sequence still ends with as many frames as the smallest ring holds, all
    // its own, and counts the drops. (A camera's overflow status on drops: the camera source test.)
    void sequenceKeepsAllItAsksFor()
    {
        const int ringSize = RingSize::minimum;
        SceneRig rig(DisplayScene::create({16, 4, 8, true}, ringSize), {16, 4}, true);
        auto& [scene, visualizer] = rig;
        const auto group = scene->frameBufferGroup();
        scene->startGrabbing(1);
        pushComplete(manual(scene));
        QTRY_VERIFY(visualizer.count("stopped") == 1 && visualizer.newestFrame());
        scene->setVisualizerVisible(false); // nothing newer is shown, so the display keeps its slot
        scene->startGrabbing(0);
        for (int i = 0; i < ringSize; ++i)
            pushComplete(manual(scene));
        QTRY_VERIFY(scene->statistics().framesDropped > 0);
        // Shown anew, the display lets the old slot go.
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

    void frameArrivingLineByLine()
    {
        SceneRig rig(DisplayScene::create({8, 16, 12, true}, 3), {8, 16}, true);
        auto& [scene, visualizer] = rig;
        manual(scene).pushFrame(
            [](FrameBuffer& b) {
                for (int y = 0; y < b.height(); ++y)
                    for (int x = 0; x < b.width(); ++x)
                        b.setPixelValueGray(x, y, 100 * y + x);
            },
            4);
        scene->startGrabbing(1);
        QVERIFY(scene->isGrabbing()); // at once, and until the stepped frame is complete
        auto group = scene->frameBufferGroup();

        for (int lastLine = 3; lastLine < 15; lastLine += 4) {
            // The shown canvas has the arrived lines, to the last column, and background below them.
            const auto shown = [&] {
                auto frame = visualizer.newestFrame();
                return frame && frame->frameBuffer() && frame->frameBuffer() == group->bufferInProgress()
                       && frame->canvasLine(lastLine + 1)[7] == SceneRenderer::backgroundColor
                       && frame->canvasLine(lastLine)[7] == 0xff000000u + 0x010101u * ((100 * lastLine + 7) >> 4);
            };
            QTRY_VERIFY(shown());
            QCOMPARE(scene->getValidBufferCount(), 0); // not stored until complete
            manual(scene).releaseStep();
        }
        QTRY_VERIFY(!scene->isGrabbing());
        QVERIFY(scene->getValidBufferCount() == 1 && !group->bufferInProgress());
    }

    void idleRendering()
    {
        // Invisible at first: nothing is rendered whatever happens.
        SceneRig rig(DisplayScene::create({40, 30, 8, true}, 3), {}, true);
        auto& [scene, visualizer] = rig;
        scene->setCanvasSize(20, 10);
        scene->startGrabbing(0);
        // Frame k is all of one gray, 40 (k + 1).
        for (int k = 0; k < 3; ++k)
            manual(scene).pushFrame([k](FrameBuffer& b) {
                for (int y = 0; y < b.height(); ++y)
                    std::fill(b.line(y), b.line(y) + b.width(), std::uint16_t(40 * (k + 1)));
            });
        QTRY_VERIFY(!scene->isGrabbing());
        QCOMPARE(visualizer.count("frame"), 0);

        scene->setVisualizerVisible(true);
        // The newest at 4:1 while none is chosen, then chosen buffers at 1:1; buffer 1 is the
        // oldest stored frame (index 0).
        for (const int number : {0, 1, 3, 2}) {
            const int zoom = number > 0 ? 6 : 8;
            scene->setZoomFactorAndOffset(zoom, 3, 2);
            if (number > 0)
                scene->setBuffer(number);
            const std::int64_t index = number > 0 ? number - 1 : 2;
            const auto shows = [&] {
                auto f = visualizer.newestFrame();
                return f && f->zoomValue() == zoom && f->frameBuffer() && f->frameBuffer()->frameIndex() == index;
            };
            QTRY_VERIFY(shows());
            auto frame = visualizer.newestFrame();
            QCOMPARE(QRect(frame->minX(), frame->minY(), frame->width(), frame->height()), QRect(3, 2, 20, 10));
            // Rendered anew from the buffer shown, not a canvas of another one.
            const std::uint32_t v = 40 * std::uint32_t(index + 1);
            QCOMPARE(frame->canvasLine(5)[5], 0xff000000u | v << 16 | v << 8 | v);
        }
        // Every frame handed out came back.
        QTRY_COMPARE(scene->statistics().framesRecycled, scene->statistics().framesRendered);
    }

    // The visualizer keeps the frame it shows, as a window does, at the smallest ring; every
    // frame is handed back all the same.
    void steadyRenderingThenDetach()
    {
        SceneRig rig(simulatorScene({16, 4, 8, true}, RingSize::minimum), {16, 4}, true);
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
        // Until then every frame was announced in order, counting from 0, none dropped.
        QCOMPARE(story(visualizer) + " stopped", run(visualizer.count("buffer")));
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

    void attachingShowsTheStoredFrame()
    {
        // A window opened on a stopped scene shows its newest frame without another grab.
        SceneRig rig(simulatorScene({16, 4, 8, true}, 4), {16, 4});
        rig.scene->startGrabbing(1);
        // The run's last render is done once a frame follows the stop; nothing is asked after it.
        const auto frameAfterStop = [&] {
            const auto calls = rig.visualizer.calls();
            const auto stop = std::find_if(calls.begin(), calls.end(), [](const auto& c) { return c.name == "stopped"; });
            return std::any_of(stop, calls.end(), [](const auto& c) { return c.name == "frame"; });
        };
        QTRY_VERIFY(frameAfterStop());
        rig.scene->detachVisualizer(&rig.visualizer);
        RecordingVisualizer window;
        rig.scene->attachVisualizer(&window);
        QTRY_VERIFY(window.count("frame") > 0);
    }

    void stopDoesNotWaitForTheAcquisitionThread()
    {
        // The GUI thread asks for the stop while a callback on the acquisition thread waits
        // for the GUI: a stop that waited for the run's end would never return.
        SceneRig rig(simulatorScene({16, 4, 8, true}, 4));
        std::mutex mutex; // guards stopReturned
        std::condition_variable stopped;
        bool stopReturned = false;
        std::atomic<bool> inside{false}, sawReturn{false}, once{false};
        rig.visualizer.onBuffer = [&](const boost::shared_ptr<FrameBuffer>&) {
            if (once.exchange(true))
                return;
            inside = true;
            // Bounded so that a stop that does wait fails the test instead of hanging it.
            std::unique_lock<std::mutex> lock(mutex);
            sawReturn = stopped.wait_for(lock, std::chrono::seconds(20), [&] { return stopReturned; });
        };
        rig.scene->startGrabbing(-1);
        QTRY_VERIFY(inside.load());
        rig.scene->stopGrabbing();
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopReturned = true;
        }
        stopped.notify_all();
        QTRY_VERIFY(!rig.scene->isGrabbing());
        QVERIFY(sawReturn.load());
    }
};

QTEST_GUILESS_MAIN(TestDisplayScene)
#include "tst_display_scene.moc"
