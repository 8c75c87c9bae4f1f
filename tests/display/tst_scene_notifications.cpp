// Scene callbacks: the hand-over from scene threads to the GUI thread.

#include "DisplayTestSupport.h"

#include "display/SceneEventTypes.h"
#include "frame/HandOverAnnotations.h"

#include "vexo-core/StopWatch.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/ManualFrameSource.h"

#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

using namespace vexo::core;

namespace {

// Records the custom events a window receives, with the thread they arrive on.
class EventRecorder : public QObject
{
public:
    QList<QEvent::Type> types;
    bool allOnGuiThread = true;

    bool eventFilter(QObject*, QEvent* e) override
    {
        vexo::templates::platform::acceptHandOver(e);
        if (e->type() >= QEvent::User && e->type() <= QEvent::MaxUser) {
            types << e->type();
            allOnGuiThread = allOnGuiThread && QThread::currentThread() == qApp->thread();
        }
        return false;
    }
    int count(QEvent::Type type) const { return types.count(type); }
};

boost::shared_ptr<DisplaySceneFrame> makeFrame()
{
    return boost::shared_ptr<DisplaySceneFrame>(new DisplaySceneFrame(8, 8));
}

void runOnThread(const std::function<void()>& f)
{
    std::thread(f).join();
}

struct Fixture
{
    boost::shared_ptr<DisplayScene> scene = DisplayScene::create({32, 16, 8, true});
    std::unique_ptr<Qt4DisplaySceneVisualizer> window{Qt4DisplaySceneVisualizer::create(nullptr, 0, 0)};
    EventRecorder recorder;

    // Frames handed back through freeSceneFrame, and whether any came back off the GUI thread.
    std::atomic<int> freed{0};
    std::atomic<bool> freedOffGuiThread{false};
    std::atomic<int> timerInterrupts{0};

    Fixture()
    {
        scene->setCallObserver([this](const SceneCall& call) {
            if (call.operation == SceneCall::FreeSceneFrame) {
                ++freed;
                if (QThread::currentThread() != qApp->thread())
                    freedOffGuiThread = true;
            } else if (call.operation == SceneCall::TimerInterrupt) {
                ++timerInterrupts;
            }
        });
        // Status only on changes, so that no periodic report mixes into the counts.
        scene->setStatusPeriod(0);
        scene->attachVisualizer(window.get());
        window->installEventFilter(&recorder);
    }
    ~Fixture() { scene->detachVisualizer(window.get()); }
    auto& d() { return VisualizerInspector::d(window.get()); }
    void pump() { QCoreApplication::sendPostedEvents(window.get()); }
    // Starts an acquisition that delivers nothing (no frame is pushed) and waits until
    // its notifications have been handled.
    void startGrabbingQuietly()
    {
        scene->startGrabbing(-1);
        QTRY_VERIFY(recorder.count(SceneEventTypes::grabbingStarted) == 1
                    && recorder.count(SceneEventTypes::cameraStatusUpdate) == 1);
        recorder.types.clear();
    }
};

} // namespace

class TestSceneNotifications : public QObject
{
    Q_OBJECT

private slots:
    // Every callback made from a scene thread.
    void callbacksPostInPriorityOrder()
    {
        Fixture f;
        Qt4DisplaySceneVisualizer* window = f.window.get();
        boost::weak_ptr<StopWatch> watch;
        runOnThread([&] {
            // Buffer updates go straight into the ring, under its lock; the 65th overwrites
            // the first entry.
            boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(4, 4, 8, true));
            for (int i = 0; i < 65; ++i) {
                buffer->setFrameIndex(1000 + i);
                buffer->setTimestamp(5000 + 10 * i);
                window->notifyBufferUpdated(buffer);
            }
            boost::shared_ptr<StopWatch> stopWatch(new StopWatch);
            watch = stopWatch;
            window->notifyGrabbingStarted();                                                // normal
            window->notifyFrameBuffersAdded();                                              // high
            window->notifyGrabbingStopped();                                                // normal
            window->notifyCameraStatusUpdate(true, false, true, false, true, false, 2, 50); // high
            window->requestTimedInterrupt(stopWatch, 0);                                    // high
            window->notifySceneFrameChanged(makeFrame(), 25.0);                             // high
            window->notifyFrameBuffersInvalidated();                                        // high
        });
        auto& d = f.d();
        QCOMPARE(d.bufferCount.load(), std::uint64_t(65));
        QCOMPARE(d.bufferRing[0].frameIndex, std::int64_t(1064));
        QCOMPARE(d.bufferRing[0].timestamp, std::uint64_t(5640));
        QCOMPARE(d.bufferRing[1].frameIndex, std::int64_t(1001));
        QCOMPARE(d.bufferRing[63].frameIndex, std::int64_t(1063));
        QCOMPARE(d.bufferRing[63].timestamp, std::uint64_t(5630));
        // Nothing else is handled on the scene's thread: the events wait for the GUI thread,
        // and the interrupt's event keeps its stop watch alive until then.
        QCOMPARE(f.recorder.types.size(), 0);
        QVERIFY(!watch.expired());
        f.pump();
        const QList<QEvent::Type> expected = {
            SceneEventTypes::frameBuffersAdded,     SceneEventTypes::cameraStatusUpdate,
            SceneEventTypes::requestTimedInterrupt, SceneEventTypes::sceneFrameChanged,
            SceneEventTypes::frameBuffersInvalidated, SceneEventTypes::grabbingStarted,
            SceneEventTypes::grabbingStopped};
        QCOMPARE(f.recorder.types, expected); // buffer updates posted nothing
        QVERIFY(f.recorder.allOnGuiThread);
        QCOMPARE(f.freed.load(), 1); // handled, and the frame handed back
        QVERIFY(!f.freedOffGuiThread);
        QCOMPARE(f.timerInterrupts.load(), 1);
        QVERIFY(watch.expired());
    }

    void framePostingRules_data()
    {
        QTest::addColumn<bool>("grabbing");
        QTest::addColumn<int>("expectedEvents");
        // While grabbing one queued event shows the newest frame; while idle every
        // notification posts, and each event shows what is pending when it runs.
        QTest::newRow("grabbing") << true << 1;
        QTest::newRow("idle") << false << 3;
    }

    void framePostingRules()
    {
        QFETCH(bool, grabbing);
        QFETCH(int, expectedEvents);
        Fixture f;
        if (grabbing)
            f.startGrabbingQuietly();
        Qt4DisplaySceneVisualizer* window = f.window.get();

        boost::weak_ptr<DisplaySceneFrame> first, second, third;
        runOnThread([&] {
            auto a = makeFrame(), b = makeFrame(), c = makeFrame();
            first = a;
            second = b;
            third = c;
            window->notifySceneFrameChanged(a, 10.0);
            window->notifySceneFrameChanged(b, 20.0);
            window->notifySceneFrameChanged(c, 30.0);
        });
        // Replaced pending frames are released at once, without being handed back.
        QVERIFY(first.expired());
        QVERIFY(second.expired());
        QVERIFY(!third.expired());
        QCOMPARE(f.freed.load(), 0);

        f.pump();
        QCOMPARE(f.recorder.count(SceneEventTypes::sceneFrameChanged), expectedEvents);
        QCOMPARE(f.freed.load(), expectedEvents);
        QVERIFY(!f.d().frameEventPending);
        QCOMPARE(f.d().pendingFrame, third.lock()); // the slot keeps its own reference
        QCOMPARE(f.d().pendingRenderFps, 30.0);
    }

    void frameNotifiedDuringProcessingWaits()
    {
        Fixture f;
        f.startGrabbingQuietly();
        Qt4DisplaySceneVisualizer* window = f.window.get();

        // While the GUI handles the first frame (it hands it back before it clears the
        // pending flag), a scene thread notifies a second one.
        boost::weak_ptr<DisplaySceneFrame> second;
        bool notifiedInside = false;
        f.scene->setCallObserver([&](const SceneCall& call) {
            if (call.operation != SceneCall::FreeSceneFrame || notifiedInside)
                return;
            notifiedInside = true;
            runOnThread([&] {
                auto frame = makeFrame();
                second = frame;
                window->notifySceneFrameChanged(frame, 2.0);
            });
        });
        runOnThread([&] { window->notifySceneFrameChanged(makeFrame(), 1.0); });
        f.pump();
        QVERIFY(notifiedInside);
        // No event was posted for the second frame: it waits as the pending frame.
        QCOMPARE(f.recorder.count(SceneEventTypes::sceneFrameChanged), 1);
        f.pump();
        QCOMPARE(f.recorder.count(SceneEventTypes::sceneFrameChanged), 1);
        QCOMPARE(f.d().pendingFrame, second.lock());
        QVERIFY(!f.d().frameEventPending);

        // The next notification posts again and replaces it.
        runOnThread([&] { window->notifySceneFrameChanged(makeFrame(), 3.0); });
        QVERIFY(second.expired());
        f.pump();
        QCOMPARE(f.recorder.count(SceneEventTypes::sceneFrameChanged), 2);
    }

    void frameStressFromManyThreads()
    {
        // Several scene threads race on the hand-over while the GUI thread handles events:
        // every event hands back exactly one frame, and no frame outlives its replacement.
        Fixture f;
        f.startGrabbingQuietly();
        Qt4DisplaySceneVisualizer* window = f.window.get();
        constexpr int threads = 4, framesPerThread = 2000;
        std::atomic<int> running{threads};
        std::atomic<long> liveFrames{0};
        std::vector<std::thread> notifiers;
        for (int t = 0; t < threads; ++t)
            notifiers.emplace_back([&] {
                for (int i = 0; i < framesPerThread; ++i) {
                    ++liveFrames;
                    boost::shared_ptr<DisplaySceneFrame> frame(new DisplaySceneFrame(4, 4), [&liveFrames](DisplaySceneFrame* p) {
                        --liveFrames;
                        delete p;
                    });
                    window->notifySceneFrameChanged(frame, i);
                }
                --running;
            });
        while (running.load() > 0)
            f.pump();
        for (auto& t : notifiers)
            t.join();
        f.pump();
        QCOMPARE(f.freed.load(), f.recorder.count(SceneEventTypes::sceneFrameChanged));
        QVERIFY(!f.d().frameEventPending);
        QCOMPARE(liveFrames.load(), 1L); // only the pending slot's frame is alive
    }

    void invalidationWaitsForWorkers()
    {
        Fixture f;
        Qt4DisplaySceneVisualizer* window = f.window.get();
        QThread* workers[] = {VisualizerInspector::profileWorker(window), VisualizerInspector::histogramWorker(window)};

        // Each worker is held inside its run until released; started() is emitted on the
        // worker's own thread just before run(), so a direct connection holds it there.
        std::atomic<bool> release[2] = {{false}, {false}};
        std::atomic<bool> holding[2] = {{false}, {false}};
        std::atomic<bool> notifierReturned{false}, returnedWhileHeld{false};
        for (int i = 0; i < 2; ++i) {
            QObject::connect(workers[i], &QThread::started, workers[i], [&, i] {
                holding[i] = true;
                while (!release[i].load())
                    std::this_thread::yield();
                if (notifierReturned.load())
                    returnedWhileHeld = true;
            }, Qt::DirectConnection);
            workers[i]->start();
        }
        QTRY_VERIFY(holding[0].load() && holding[1].load());

        std::thread notifier([&] {
            window->notifyFrameBuffersInvalidated();
            notifierReturned = true;
        });
        // Release the profile worker first, then the histogram worker; the notifier may
        // return only after both have finished.
        for (int spin = 0; spin < 10000; ++spin)
            std::this_thread::yield();
        QVERIFY(!notifierReturned.load());
        release[0] = true;
        QVERIFY(workers[0]->wait());
        for (int spin = 0; spin < 10000; ++spin)
            std::this_thread::yield();
        QVERIFY(!notifierReturned.load());
        release[1] = true;
        notifier.join();
        QVERIFY(!returnedWhileHeld.load());
        QVERIFY(workers[1]->isFinished());
        f.pump();
        QCOMPARE(f.recorder.count(SceneEventTypes::frameBuffersInvalidated), 1);
    }

    void detachStopsCallbacks()
    {
        Fixture f;
        Qt4DisplaySceneVisualizer* window = f.window.get();
        QVERIFY(window->scene());
        f.scene->detachVisualizer(window);
        QVERIFY(!window->scene());
        QVERIFY(!f.scene->withVisualizer([](DisplaySceneVisualizer&) {}));
        // A late frame from a scene thread is dropped at once: neither posted nor kept.
        boost::weak_ptr<DisplaySceneFrame> late;
        runOnThread([&] {
            auto frame = makeFrame();
            late = frame;
            window->notifySceneFrameChanged(frame, 1.0);
        });
        QVERIFY(late.expired());
        QVERIFY(!f.d().frameEventPending);
        f.pump();
        QCOMPARE(f.recorder.types.size(), 0);
        // An acquisition of the scene no longer reaches the window: once its frame is stored,
        // the started, buffer and status notifications have all been made.
        f.scene->startGrabbing(-1);
        static_cast<ManualFrameSource&>(f.scene->source()).pushFrame([](FrameBuffer&) {});
        QTRY_COMPARE(f.scene->statistics().framesAcquired, std::uint64_t(1));
        f.scene->stopGrabbing();
        QTRY_VERIFY(!f.scene->isGrabbing());
        f.pump();
        QCOMPARE(f.recorder.types.size(), 0);
        QCOMPARE(f.d().bufferCount.load(), std::uint64_t(0));
    }
};

QTEST_MAIN(TestSceneNotifications)
#include "tst_scene_notifications.moc"
