// A scene's ring and its format: rings that cannot be held, format changes while
// frames are rendered, and a start the source refuses.

#include "RuntimeTestSupport.h"

#include <QtTest>

#include <climits>
#include <mutex>

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

} // namespace

Q_DECLARE_METATYPE(RingCase)

class TestSceneFormats : public QObject
{
    Q_OBJECT

private slots:
    // Once told the buffers are invalid, the visualizer never sees a frame of them again,
    // even with renders of the old ring under way while the format changes.
    void noOldFrameAfterInvalidation()
    {
        const FrameFormat formats[] = {{16, 16, 8, true}, {24, 8, 12, false}};
        SceneRig rig(simulatorScene(formats[1], 3), {16, 16});
        auto& [scene, visualizer] = rig;
        // As a window does: redraw at once, which asks the scene for a render.
        visualizer.onInvalidated = [&, zoom = 6]() mutable { scene->setZoomFactor(zoom ^= 1); };
        for (int round = 0; round < 60; ++round) {
            scene->startGrabbing(-1);
            const int rendered = visualizer.count("frame");
            QTRY_VERIFY(visualizer.count("frame") > rendered);
            const auto oldGroup = scene->frameBufferGroup();
            // The change stops the acquisition and waits for it before the ring is replaced.
            QVERIFY(scene->setFormat(formats[round % 2]) && !scene->isGrabbing());
            QVERIFY(story(visualizer).endsWith(" stopped invalidated added") && scene->frameBufferGroup() != oldGroup);
        }
        const auto group = scene->frameBufferGroup();
        int invalidations = 0;
        int width = formats[1].width;
        for (const auto& c : visualizer.calls()) {
            if (c.name == "invalidated")
                width = formats[invalidations++ % 2].width;
            else if (c.name == "frame" && c.shownWidth != -1 && c.shownWidth != width)
                QFAIL(qPrintable(QStringLiteral("a %1 pixels wide frame after invalidation %2")
                                     .arg(c.shownWidth).arg(invalidations)));
        }
        QCOMPARE(invalidations, 60);
        // A format the source refuses changes nothing.
        QVERIFY(!scene->setFormat({24, 8, 17, true}));
        QCOMPARE(scene->frameBufferGroup(), group);
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
        const QString tooFew = "the ring needs at least 3 frame buffers: the display holds 1 of them while one is written"
                               " and one is stored";
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
        // Whichever ring is there takes frames, also one made after a refusal.
        scene->startGrabbing(1);
        pushComplete(manual(scene));
        QTRY_COMPARE(scene->getValidBufferCount(), refusal.isEmpty() || laterRefusal.isEmpty() ? 1 : 0);
    }

    void refusedStartKeepsTheStoredFrames()
    {
        auto* source = new RefusingSource(FrameFormat{16, 8, 8, true});
        SceneRig rig(DisplayScene::create(std::unique_ptr<FrameSource>(source), 4));
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

QTEST_GUILESS_MAIN(TestSceneFormats)
#include "tst_scene_formats.moc"
