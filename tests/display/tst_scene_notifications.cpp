// Scene callbacks: the hand-over from scene threads to the GUI thread.

#include "DisplayTestSupport.h"

#include "display/SceneEventTypes.h"
#include "frame/HandOverAnnotations.h"

#include "vexo-core/StopWatch.h"

#include <QtTest>

#include <atomic>
#include <functional>
#include <thread>

using namespace vexo::core;
using Frame = boost::shared_ptr<DisplaySceneFrame>;

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

Frame makeFrame() { return Frame(new DisplaySceneFrame(8, 8)); }
Frame tracked(boost::weak_ptr<DisplaySceneFrame>& watch)
{
    Frame frame = makeFrame();
    watch = frame;
    return frame;
}

void runOnThread(const std::function<void()>& f) { std::thread(f).join(); }

// Counts the frames handed back through freeSceneFrame from any thread.
struct Fixture : WindowRig
{
    EventRecorder recorder;
    std::atomic<int> freed{0}, timerInterrupts{0};
    std::atomic<bool> freedOffGuiThread{false};

    Fixture() : WindowRig({32, 16, 8, true})
    {
        scene->setCallObserver([this](const SceneCall& call) {
            if (call.operation == SceneCall::FreeSceneFrame) {
                ++freed;
                freedOffGuiThread = freedOffGuiThread || QThread::currentThread() != qApp->thread();
            }
            timerInterrupts += call.operation == SceneCall::TimerInterrupt;
        });
        window->installEventFilter(&recorder);
    }
    // An acquisition that delivers nothing, its notifications handled.
    void startGrabbingQuietly()
    {
        scene->startGrabbing(-1);
        QTRY_VERIFY(recorder.count(SceneEventTypes::grabbingStarted) == 1 && recorder.count(SceneEventTypes::cameraStatusUpdate) == 1);
        recorder.types.clear();
    }
    void notifyFrom(const Frame& frame, double fps) { runOnThread([&] { window->notifySceneFrameChanged(frame, fps); }); }
};

} // namespace

class TestSceneNotifications : public QObject
{
    Q_OBJECT

private slots:
    void callbacksPostInPriorityOrder()
    {
        Fixture f;
        boost::weak_ptr<StopWatch> watch;
        runOnThread([&] {
            // Buffer updates go straight into the ring, under its lock (where each lands: the
            // window's frame status test).
            boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(4, 4, 8, true));
            for (int i = 0; i < 65; ++i)
                f.window->notifyBufferUpdated(buffer);
            boost::shared_ptr<StopWatch> stopWatch(new StopWatch);
            watch = stopWatch;
            f.window->notifyGrabbingStarted();                                                // normal
            f.window->notifyFrameBuffersAdded();                                              // high
            f.window->notifyGrabbingStopped();                                                // normal
            f.window->notifyCameraStatusUpdate(true, false, true, false, true, false, 2, 50); // high
            f.window->requestTimedInterrupt(stopWatch, 0);                                    // high
            f.window->notifySceneFrameChanged(makeFrame(), 25.0);                             // high
            f.window->notifyFrameBuffersInvalidated();                                        // high
        });
        QCOMPARE(f.d().bufferCount.load(), std::uint64_t(65));
        // Nothing else is handled on the scene's thread: the events wait for the GUI thread,
        // and the interrupt's event keeps its stop watch alive until then.
        QVERIFY(f.recorder.types.isEmpty() && !watch.expired());
        f.pump();
        QCOMPARE(f.recorder.types, // buffer updates posted nothing
                 QList<QEvent::Type>({SceneEventTypes::frameBuffersAdded, SceneEventTypes::cameraStatusUpdate,
                                      SceneEventTypes::requestTimedInterrupt, SceneEventTypes::sceneFrameChanged,
                                      SceneEventTypes::frameBuffersInvalidated, SceneEventTypes::grabbingStarted,
                                      SceneEventTypes::grabbingStopped}));
        // Handled on the GUI thread, and the frame handed back.
        QVERIFY(f.recorder.allOnGuiThread && f.freed == 1 && !f.freedOffGuiThread && f.timerInterrupts == 1 && watch.expired());
    }

    void framePostingRules_data()
    {
        // While grabbing one queued event shows the newest frame; while idle every
        // notification posts, and each event shows what is pending when it runs. After the
        // detach a late frame is dropped at once: neither posted nor kept.
        columns<QString, int>("state", "expectedEvents");
        QTest::newRow("grabbing") << "grabbing" << 1;
        QTest::newRow("idle") << "idle" << 3;
        QTest::newRow("detached") << "detached" << 0;
    }

    void framePostingRules()
    {
        const auto [state, expectedEvents] = fetch<QString, int>("state", "expectedEvents");
        Fixture f;
        if (state == "grabbing")
            f.startGrabbingQuietly();
        if (state == "detached")
            f.scene->detachVisualizer(f.window.get());
        boost::weak_ptr<DisplaySceneFrame> frames[3];
        runOnThread([&] {
            for (int i = 0; i < 3; ++i)
                f.window->notifySceneFrameChanged(tracked(frames[i]), i == 2 ? 30.0 : 10.0);
        });
        // Replaced pending frames are released at once, without being handed back.
        QVERIFY(frames[0].expired() && frames[1].expired() && frames[2].expired() == !expectedEvents && f.freed == 0);
        f.pump();
        QCOMPARE(QList<int>({int(f.recorder.types.size()), f.freed}), QList<int>({expectedEvents, expectedEvents}));
        QVERIFY(!f.d().frameEventPending && f.d().pendingFrame == frames[2].lock()); // the slot keeps its own reference
        QCOMPARE(f.d().pendingRenderFps, expectedEvents ? 30.0 : 0.0);
    }

    // While the GUI handles a frame (it hands it back before it clears the pending flag),
    // a scene thread notifies the next: no event is posted for it, it waits as the pending
    // frame, and the notification after it posts again.
    void frameNotifiedDuringProcessingWaits()
    {
        Fixture f;
        f.startGrabbingQuietly();
        boost::weak_ptr<DisplaySceneFrame> second;
        bool notifiedInside = false;
        f.scene->setCallObserver([&](const SceneCall& call) {
            if (call.operation == SceneCall::FreeSceneFrame && !notifiedInside) {
                notifiedInside = true;
                f.notifyFrom(tracked(second), 2.0);
            }
        });
        f.notifyFrom(makeFrame(), 1.0);
        f.pump();
        f.pump();
        QCOMPARE(f.recorder.count(SceneEventTypes::sceneFrameChanged), 1);
        QVERIFY(notifiedInside && f.d().pendingFrame == second.lock() && !f.d().frameEventPending);
        f.notifyFrom(makeFrame(), 3.0);
        QVERIFY(second.expired());
        f.pump();
        QCOMPARE(f.recorder.count(SceneEventTypes::sceneFrameChanged), 2);
    }

    // Several scene threads race on the hand-over while the GUI thread handles events:
    // every event hands back exactly one frame, and no frame outlives its replacement.
    void frameStressFromManyThreads()
    {
        Fixture f;
        f.startGrabbingQuietly();
        constexpr int threads = 4, framesPerThread = 500;
        std::atomic<int> running{threads};
        std::atomic<long> liveFrames{0};
        std::vector<std::thread> notifiers;
        for (int t = 0; t < threads; ++t)
            notifiers.emplace_back([&] {
                for (int i = 0; i < framesPerThread; ++i) {
                    ++liveFrames;
                    f.window->notifySceneFrameChanged(Frame(new DisplaySceneFrame(4, 4), [&liveFrames](DisplaySceneFrame* p) {
                        --liveFrames;
                        delete p;
                    }), i);
                }
                --running;
            });
        while (running.load() > 0)
            f.pump();
        for (auto& t : notifiers)
            t.join();
        f.pump();
        QCOMPARE(f.freed.load(), f.recorder.count(SceneEventTypes::sceneFrameChanged));
        QVERIFY(!f.d().frameEventPending && liveFrames == 1); // only the pending slot's frame is alive
    }

    // The notifier returns only after both workers, released one after the other, finished.
    void invalidationWaitsForWorkers()
    {
        Fixture f;
        QThread* workers[] = {VisualizerInspector::profileWorker(f.window.get()), VisualizerInspector::histogramWorker(f.window.get())};
        // started() is emitted on the worker's own thread just before run(), so a direct
        // connection holds each worker there until released.
        std::atomic<bool> release[2] = {{false}, {false}}, holding[2] = {{false}, {false}};
        std::atomic<bool> notifierReturned{false}, returnedWhileHeld{false};
        for (int i = 0; i < 2; ++i) {
            QObject::connect(workers[i], &QThread::started, workers[i], [&, i] {
                holding[i] = true;
                while (!release[i].load())
                    std::this_thread::yield();
                returnedWhileHeld = returnedWhileHeld || notifierReturned;
            }, Qt::DirectConnection);
            workers[i]->start();
        }
        QTRY_VERIFY(holding[0].load() && holding[1].load());
        std::thread notifier([&] {
            f.window->notifyFrameBuffersInvalidated();
            notifierReturned = true;
        });
        for (int i = 0; i < 2; ++i) {
            for (int spin = 0; spin < 10000; ++spin)
                std::this_thread::yield();
            QVERIFY(!notifierReturned.load());
            release[i] = true;
            QVERIFY(i == 1 || workers[0]->wait());
        }
        notifier.join();
        QVERIFY(!returnedWhileHeld.load() && workers[1]->isFinished());
        f.pump();
        QCOMPARE(f.recorder.count(SceneEventTypes::frameBuffersInvalidated), 1);
    }
};

QTEST_MAIN(TestSceneNotifications)
#include "tst_scene_notifications.moc"
