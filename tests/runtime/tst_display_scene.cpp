// The acquisition scene: modes, drops, frames arriving line by line, rendering for a
// visualizer, format changes, and the life of its threads.

#include "RuntimeTestSupport.h"

#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/RingSize.h"
#include "vexo-lib-display/SceneRenderer.h"

#include <QtTest>

#include <climits>

using namespace vexo::core;

namespace {

// A ring asked for under a memory limit, then a format asked for next.
struct RingCase
{
    FrameFormat format;
    int buffers;
    const char* available; // VEXO_MEMORY_AVAILABLE
    QString refusal;       // empty: the ring is made
    FrameFormat then;
    QString laterRefusal;
};

// A scene with a visualizer attached; with a canvas size it is visible and renders.
struct Rig
{
    explicit Rig(boost::shared_ptr<DisplayScene> s, QSize canvas = {}, bool keepNewest = false)
        : scene(std::move(s))
    {
        visualizer.keepNewestFrame = keepNewest;
        scene->attachVisualizer(&visualizer);
        scene->setCanvasSize(canvas.width(), canvas.height());
        scene->setVisualizerVisible(!canvas.isEmpty());
    }
    boost::shared_ptr<DisplayScene> scene;
    RecordingVisualizer visualizer; // detaches before the scene goes
};

ManualFrameSource& manual(const boost::shared_ptr<DisplayScene>& scene)
{
    return static_cast<ManualFrameSource&>(scene->source());
}

// A frame whose pixel (x, y) is value(x, y).
ManualFrameSource::Fill picture(std::function<std::uint64_t(int, int)> value)
{
    return [value](FrameBuffer& b) {
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x)
                b.setPixelValueGray(x, y, value(x, y));
    };
}

void pushComplete(ManualFrameSource& source)
{
    source.pushFrame([](FrameBuffer& b) { b.setComplete(); });
}

// "started 0 1 ... n-1 stopped": a run that stored n frames and dropped none.
QString run(int n)
{
    QString told = "started";
    for (int i = 0; i < n; ++i)
        told += " " + QString::number(i);
    return told + " stopped";
}

QString story(const RecordingVisualizer& visualizer) { return QString::fromStdString(visualizer.story()); }

} // namespace

Q_DECLARE_METATYPE(RingCase)

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
        Rig rig(simulatorScene({64, 8, 8, true}, ringSize));
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

    void dropsWhileAReaderHoldsTheRing()
    {
        // A save in progress read-locks the group: acquisition drops frames rather than wait.
        // (Every slot held by readers takes the same path here; the group's own test has it.)
        Rig rig(simulatorScene({32, 4, 8, true}, 4));
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
        Rig rig(DisplayScene::create({8, 16, 12, true}, 3), {8, 16}, true);
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
        Rig rig(DisplayScene::create({40, 30, 8, true}, 3), {}, true);
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

    // Once told the buffers are invalid, the visualizer never sees a frame of them again,
    // even with renders of the old ring under way while the format changes.
    void noOldFrameAfterInvalidation()
    {
        Rig rig(simulatorScene({16, 16, 8, true}, 3), {16, 16});
        auto& [scene, visualizer] = rig;
        const int widths[] = {24, 16};
        // As a window does: redraw at once, which asks the scene for a render.
        visualizer.onInvalidated = [&, zoom = 6]() mutable { scene->setZoomFactor(zoom ^= 1); };
        for (int round = 0; round < 60; ++round) {
            scene->startGrabbing(-1);
            const int rendered = visualizer.count("frame");
            QTRY_VERIFY(visualizer.count("frame") > rendered);
            QVERIFY(scene->setFormat({widths[round % 2], 16, 8, true}));
        }
        scene->startGrabbing(1);
        QTRY_VERIFY(!scene->isGrabbing());
        int invalidations = 0;
        int width = 16;
        for (const auto& c : visualizer.calls()) {
            if (c.name == "invalidated")
                width = widths[invalidations++ % 2];
            else if (c.name == "frame" && c.shownWidth != -1 && c.shownWidth != width)
                QFAIL(qPrintable(QStringLiteral("a %1 pixels wide frame after invalidation %2")
                                     .arg(c.shownWidth).arg(invalidations)));
        }
        QCOMPARE(invalidations, 60);
    }

    void formatChangeInvalidatesThenAdds()
    {
        Rig rig(simulatorScene({16, 16, 8, true}, 3));
        auto& [scene, visualizer] = rig;
        scene->startGrabbing(-1);
        QTRY_VERIFY(visualizer.count("buffer") >= 2);
        auto oldGroup = scene->frameBufferGroup();

        // The change stops the acquisition and waits for it before the ring is replaced.
        QVERIFY(scene->setFormat({24, 8, 12, false}));
        QVERIFY(!scene->isGrabbing());
        QVERIFY(story(visualizer).endsWith(" stopped invalidated added"));
        QCOMPARE(QSize(scene->width(), scene->height()), QSize(24, 8));
        auto group = scene->frameBufferGroup();
        QVERIFY(group != oldGroup && group->size() == 0);

        scene->startGrabbing(1);
        QTRY_VERIFY(!scene->isGrabbing() && group->size() == 1);
        auto buffer = group->buffer(0);
        QCOMPARE((QList<int>{buffer->width(), buffer->bitsPerPixel(), buffer->isGray()}), (QList<int>{24, 12, false}));
        // A format the source refuses changes nothing.
        QVERIFY(!scene->setFormat({24, 8, 17, true}));
        QCOMPARE(scene->frameBufferGroup(), group);
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
        Rig rig(simulatorScene({16, 4, 8, true}, keepShown ? RingSize::minimum : 4), {16, 4}, keepShown);
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
        Rig rig(simulatorScene({16, 4, 8, true}, 4));
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
        Rig rig(DisplayScene::create({8, 8, 8, true}, 3));
        for (int i = 0; i < 20; ++i) {
            rig.scene->startGrabbing(-1);
            rig.scene->stopGrabbing();
            QTRY_VERIFY(!rig.scene->isGrabbing());
        }
        QTRY_COMPARE(rig.visualizer.count("started"), rig.visualizer.count("stopped"));
    }

    void ringThatCannotBeHeldIsRefused_data()
    {
        QTest::addColumn<RingCase>("c");
        const FrameFormat small{64, 32, 12, true}; // 4 KiB a buffer
        const QString noMemory = "not enough memory for the frame buffers: ";
        // The old ring is released before the new one is counted.
        QTest::newRow("fits to the byte") << RingCase{small, 4, "16384", {}, {64, 64, 12, true}, {}};
        QTest::newRow("one byte short")
            << RingCase{small, 4, "16383", noMemory + "4 buffers x 4 KiB = 16 KiB, but 15.9 KiB are available",
                        {64, 8, 12, true}, {}};
        QTest::newRow("grown beyond what is released")
            << RingCase{small, 4, "16384", {}, {64, 65, 12, true},
                        noMemory + "4 buffers x 8.1 KiB = 32.5 KiB, but 32 KiB are available"};
        QTest::newRow("colour")
            << RingCase{{64, 32, 8, false}, 3, "36863", noMemory + "3 buffers x 12 KiB = 36 KiB, but 35.9 KiB are available",
                        {64, 16, 8, false}, {}};
        // Too few to keep the display's frame while the next one is written: never made.
        const QString tooFew = "the ring needs at least 3 frame buffers: the display holds 1 of them while one is written and one is stored";
        QTest::newRow("one buffer short") << RingCase{small, 2, "16384", tooFew, {64, 8, 12, true}, tooFew};
        // The check passes, the allocation fails: the same clean refusal.
        QTest::newRow("allocation fails")
            << RingCase{{INT_MAX, INT_MAX, 8, true}, 3, "18446744073709551615",
                        "cannot allocate the frame buffers: 3 buffers x 7.9 EiB = 15.9 EiB", {16, 16, 8, true}, {}};
    }

    void ringThatCannotBeHeldIsRefused()
    {
        QFETCH(RingCase, c);
        const auto& [format, buffers, available, refusal, then, laterRefusal] = c;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        // Their allocators end the process on an impossible size instead of failing it.
        if (refusal.startsWith("cannot allocate"))
            QSKIP("a sanitizer's allocator aborts instead of throwing");
#endif
        qputenv("VEXO_MEMORY_AVAILABLE", available);
        const auto restore = qScopeGuard([] { qunsetenv("VEXO_MEMORY_AVAILABLE"); });
        auto scene = DisplayScene::create(format, buffers);
        QCOMPARE(QString::fromStdString(scene->ringError()), refusal);
        QCOMPARE(scene->frameBufferGroup()->capacity(), refusal.isEmpty() ? buffers : 0);
        // Without a ring the start is ignored rather than run.
        scene->startGrabbing(1);
        QCOMPARE(scene->isGrabbing(), refusal.isEmpty());
        scene->stopGrabbing();
        const auto before = scene->frameBufferGroup();
        QCOMPARE(scene->setFormat(then), laterRefusal.isEmpty());
        QCOMPARE(QString::fromStdString(scene->ringError()), laterRefusal);
        // A refusal comes before anything changed.
        QCOMPARE(scene->format(), laterRefusal.isEmpty() ? then : format);
        QVERIFY(laterRefusal.isEmpty() ? scene->frameBufferGroup()->capacity() == buffers
                                       : scene->frameBufferGroup() == before);
        if (laterRefusal.isEmpty()) {
            scene->startGrabbing(1);
            pushComplete(manual(scene));
            QTRY_COMPARE(scene->getValidBufferCount(), 1);
        }
    }

    void refusedStartKeepsTheStoredFrames()
    {
        auto* source = new RefusingSource(FrameFormat{16, 8, 8, true});
        Rig rig(DisplayScene::create(std::unique_ptr<FrameSource>(source), 4));
        auto& [scene, visualizer] = rig;
        std::mutex mutex; // guards refusals, written on the acquisition thread
        QStringList refusals;
        const auto caller = std::this_thread::get_id();
        scene->setGrabRefusedObserver([&](const std::string& reason) {
            std::lock_guard<std::mutex> lock(mutex);
            refusals << QString::fromStdString(reason) + (std::this_thread::get_id() == caller ? " on the caller" : "")
                            + (rig.scene->isGrabbing() ? " while grabbing" : "");
        });
        const auto told = [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return refusals;
        };
        scene->startGrabbing(0);
        for (int i = 0; i < 6; ++i) // two more than the ring: the sequence ends at four
            pushComplete(*source);
        QTRY_COMPARE(visualizer.count("stopped"), 1);
        const auto group = scene->frameBufferGroup();

        // Told on the acquisition thread once the scene is idle again.
        source->refuse = true;
        scene->startGrabbing(-1);
        QTRY_COMPARE(told(), QStringList{"the camera 127.0.0.1 was lost"});
        QVERIFY(!scene->isGrabbing());
        QCOMPARE(scene->grabError(), std::string("the camera 127.0.0.1 was lost"));
        // Everything stored stays: the ring, its count, and the window that never heard of a grab.
        QCOMPARE(scene->frameBufferGroup(), group);
        QCOMPARE(QPoint(int(group->frameCounter()), scene->getValidBufferCount()), QPoint(4, 4));
        QCOMPARE(story(visualizer), run(4));

        // A start that works clears the reason and begins anew.
        source->refuse = false;
        scene->startGrabbing(1);
        pushComplete(*source);
        QTRY_COMPARE(visualizer.count("stopped"), 2);
        QCOMPARE(scene->grabError(), std::string());
        QCOMPARE(QPoint(int(group->frameCounter()), told().size()), QPoint(1, 1));

        // A format change right after a refused start waits for it to end, and no longer.
        source->refuse = true;
        scene->startGrabbing(-1);
        QVERIFY(scene->setFormat(FrameFormat{16, 4, 8, true}));
        QVERIFY(!scene->isGrabbing());
        QTRY_COMPARE(told().size() + int(scene->grabError().empty()), 2); // unless the stop came first
        scene->setGrabRefusedObserver({});
    }
};

QTEST_GUILESS_MAIN(TestDisplayScene)
#include "tst_display_scene.moc"
