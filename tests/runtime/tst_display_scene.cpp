// The acquisition scene: modes, drops, frames arriving line by line, rendering for a
// visualizer, format changes, and the life of its threads.

#include "RecordingVisualizer.h"

#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/ManualFrameSource.h"
#include "vexo-lib-display/SceneRenderer.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <QScopeGuard>
#include <QtTest>

#include <atomic>
#include <climits>
#include <memory>

using namespace vexo::core;

Q_DECLARE_METATYPE(FrameFormat)

namespace {

boost::shared_ptr<DisplayScene> simulatorScene(const FrameFormat& format, int buffers,
                                               double fps = 0, int linesPerChunk = 0)
{
    SimulatorSource::Settings settings;
    settings.format = format;
    settings.framesPerSecond = fps;
    settings.linesPerChunk = linesPerChunk;
    return DisplayScene::create(std::unique_ptr<FrameSource>(new SimulatorSource(settings)), buffers);
}

ManualFrameSource& manual(const boost::shared_ptr<DisplayScene>& scene)
{
    return static_cast<ManualFrameSource&>(scene->source());
}

// Index of the first call with that name, or -1.
int firstIndex(const std::vector<RecordingVisualizer::Call>& calls, const std::string& name)
{
    for (std::size_t i = 0; i < calls.size(); ++i)
        if (calls[i].name == name)
            return int(i);
    return -1;
}

// A source that refuses to start while told to, as a camera that is gone does.
class RefusingSource : public ManualFrameSource
{
public:
    using ManualFrameSource::ManualFrameSource;
    std::atomic<bool> refuse{false};
    bool start() override { return !refuse && ManualFrameSource::start(); }
    std::string problem() const override { return refuse ? "the camera 127.0.0.1 was lost" : ""; }
};

int lastIndex(const std::vector<RecordingVisualizer::Call>& calls, const std::string& name)
{
    for (std::size_t i = calls.size(); i-- > 0;)
        if (calls[i].name == name)
            return int(i);
    return -1;
}

} // namespace

class TestDisplayScene : public QObject
{
    Q_OBJECT

private slots:
    void grabbingModes_data();
    void grabbingModes();
    void readLockedGroupDropsInsteadOfWaiting();
    void heldBuffersDropWhenRingIsFull();
    void frameArrivingLineByLine();
    void rendersForTheVisualizer();
    void idleSceneShowsSelectedBuffer();
    void canvasesAreReusedInSteadyState();
    void formatChangeInvalidatesThenAdds();
    void callbacksStopAfterDetach();
    void sceneReleasedInsideCallback();
    void stopRightAfterStart();
    void ringThatCannotBeHeldIsRefused_data();
    void ringThatCannotBeHeldIsRefused();
    void refusedStartKeepsTheStoredFrames_data();
    void refusedStartKeepsTheStoredFrames();
};

void TestDisplayScene::grabbingModes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("ringSize");
    QTest::addColumn<int>("expectedStored"); // -1: until stopped
    QTest::newRow("sequence") << 0 << 5 << 5;
    QTest::newRow("sequence, one buffer") << 0 << 1 << 1;
    QTest::newRow("single") << 1 << 5 << 1;
    QTest::newRow("infinite") << -1 << 4 << -1;
}

void TestDisplayScene::grabbingModes()
{
    QFETCH(int, mode);
    QFETCH(int, ringSize);
    QFETCH(int, expectedStored);
    auto scene = simulatorScene({64, 8, 8, true}, ringSize);
    RecordingVisualizer visualizer;
    scene->attachVisualizer(&visualizer);
    scene->startGrabbing(mode);

    if (expectedStored < 0) {
        QTRY_VERIFY(visualizer.count("buffer") > 3 * ringSize);
        scene->stopGrabbing();
    }
    QTRY_VERIFY(!scene->isGrabbing());
    QTRY_COMPARE(visualizer.count("stopped"), 1);

    const auto calls = visualizer.calls();
    const int buffers = visualizer.count("buffer");
    if (expectedStored >= 0)
        QCOMPARE(buffers, expectedStored);
    QCOMPARE(visualizer.count("started"), 1);
    // Started before the first buffer, stopped after the last.
    QVERIFY(firstIndex(calls, "started") < firstIndex(calls, "buffer"));
    QVERIFY(lastIndex(calls, "buffer") < firstIndex(calls, "stopped"));
    // Nothing held the buffers, so nothing was dropped and frame indices count from 0.
    QCOMPARE(scene->statistics().framesDropped, std::uint64_t(0));
    std::int64_t expectedIndex = 0;
    for (const auto& c : calls)
        if (c.name == "buffer")
            QCOMPARE(c.frameIndex, expectedIndex++);

    auto group = scene->frameBufferGroup();
    QCOMPARE(scene->getValidBufferCount(), std::min(buffers, ringSize));
    QCOMPARE(group->frameCounter(), std::int64_t(buffers));
    // The ring holds the newest frames, oldest first, all complete.
    for (int k = 0; k < group->size(); ++k) {
        auto buffer = group->buffer(group->frameCounter() - group->size() + k);
        QCOMPARE(buffer->frameIndex(), std::int64_t(buffers - group->size() + k));
        int x = 0, y = 0;
        buffer->lastValidPixel(&x, &y);
        QCOMPARE(QPoint(x, y), QPoint(63, 7));
        QCOMPARE(buffer->transferLength(), std::uint64_t(64 * 8));
    }

    // A second start begins a new acquisition: indices restart at 0.
    scene->startGrabbing(1);
    QTRY_COMPARE(visualizer.count("stopped"), 2);
    QCOMPARE(scene->getValidBufferCount(), 1);
    QCOMPARE(group->buffer(group->frameCounter() - 1)->frameIndex(), std::int64_t(0));
}

void TestDisplayScene::readLockedGroupDropsInsteadOfWaiting()
{
    auto scene = simulatorScene({32, 4, 8, true}, 4);
    RecordingVisualizer visualizer;
    scene->attachVisualizer(&visualizer);
    auto group = scene->frameBufferGroup();
    QVERIFY(group->try_readlock()); // a save in progress

    scene->startGrabbing(-1);
    QTRY_VERIFY(scene->statistics().framesDropped >= 5);
    QCOMPARE(scene->statistics().framesAcquired, std::uint64_t(0));
    QCOMPARE(visualizer.count("buffer"), 0);
    // The overflow is reported through the camera status.
    const auto overflowReported = [&] {
        for (const auto& c : visualizer.calls())
            if (c.name == "status" && c.flag)
                return true;
        return false;
    };
    QTRY_VERIFY(overflowReported());

    group->unlock();
    QTRY_VERIFY(visualizer.count("buffer") >= 1);
    scene->stopGrabbing();
    QTRY_VERIFY(!scene->isGrabbing());
    // Dropped frames leave gaps: the first stored frame is not frame 0.
    const auto calls = visualizer.calls();
    QVERIFY(calls[firstIndex(calls, "buffer")].frameIndex >= 5);
    const auto stats = scene->statistics();
    QCOMPARE(std::uint64_t(visualizer.count("buffer")), stats.framesAcquired);
}

void TestDisplayScene::heldBuffersDropWhenRingIsFull()
{
    // A visualizer that keeps every buffer it is told about holds the whole ring; the
    // acquisition then drops instead of overwriting what is being looked at.
    auto scene = simulatorScene({16, 2, 8, true}, 3);
    RecordingVisualizer visualizer;
    std::vector<boost::shared_ptr<FrameBuffer>> held;
    std::mutex heldMutex;
    visualizer.onBuffer = [&](const boost::shared_ptr<FrameBuffer>& b) {
        std::lock_guard<std::mutex> lock(heldMutex);
        held.push_back(b);
    };
    scene->attachVisualizer(&visualizer);
    scene->startGrabbing(-1);
    QTRY_VERIFY(scene->statistics().framesDropped >= 3);
    QCOMPARE(visualizer.count("buffer"), 3);
    {
        std::lock_guard<std::mutex> lock(heldMutex);
        QCOMPARE(held[0]->frameIndex(), std::int64_t(0)); // never overwritten
        held.clear();
    }
    QTRY_VERIFY(visualizer.count("buffer") > 3);
    // Stop first: the hook is called on the acquisition thread until the run has ended.
    scene->stopGrabbing();
    QTRY_VERIFY(!scene->isGrabbing());
    visualizer.onBuffer = nullptr;
    std::lock_guard<std::mutex> lock(heldMutex);
    held.clear();
}

void TestDisplayScene::frameArrivingLineByLine()
{
    auto scene = DisplayScene::create({8, 16, 12, true}, 2);
    RecordingVisualizer visualizer;
    visualizer.keepNewestFrame = true;
    scene->attachVisualizer(&visualizer);
    scene->setCanvasSize(8, 16);
    scene->setVisualizerVisible(true);

    manual(scene).pushFrame([](FrameBuffer& b) {
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x)
                b.setPixelValueGray(x, y, 100 * y + x);
    }, 4);
    scene->startGrabbing(1);
    QVERIFY(scene->isGrabbing()); // at once, and until the stepped frame is complete
    auto group = scene->frameBufferGroup();

    for (int step = 1; step <= 4; ++step) {
        const int lastLine = 4 * step - 1;
        const auto published = [&] {
            auto arriving = group->bufferInProgress();
            if (!arriving)
                return false;
            int x = -1;
            int y = -1;
            arriving->lastValidPixel(&x, &y);
            return y == lastLine && x == 7;
        };
        QTRY_VERIFY(step == 4 || published());
        if (step < 4) {
            auto arriving = group->bufferInProgress();
            QVERIFY(arriving);
            // What is published is complete and right.
            for (int y = 0; y <= lastLine; ++y) {
                std::uint64_t v = 0;
                QVERIFY(arriving->getPixelValueGray(7, y, &v));
                QCOMPARE(v, std::uint64_t(100 * y + 7));
            }
            QTRY_VERIFY(visualizer.newestFrame()
                        && visualizer.newestFrame()->frameBuffer() == arriving);
            // The shown canvas has the arrived lines and background below them.
            const auto shown = [&] {
                auto frame = visualizer.newestFrame();
                const std::uint32_t* below = frame->canvasLine(lastLine + 1);
                return below && below[0] == SceneRenderer::backgroundColor
                       && frame->canvasLine(lastLine)[0] != SceneRenderer::backgroundColor;
            };
            QTRY_VERIFY(shown());
            QCOMPARE(scene->getValidBufferCount(), 0); // not stored until complete
            manual(scene).releaseStep();
        }
    }
    QTRY_VERIFY(!scene->isGrabbing());
    QCOMPARE(scene->getValidBufferCount(), 1);
    QVERIFY(!group->bufferInProgress());
    QCOMPARE(group->buffer(0)->transferLength(), std::uint64_t(8 * 16 * 12 / 8));
}

void TestDisplayScene::rendersForTheVisualizer()
{
    auto scene = DisplayScene::create({40, 30, 8, true}, 3);
    RecordingVisualizer visualizer;
    visualizer.keepNewestFrame = true;
    scene->attachVisualizer(&visualizer);
    // Invisible: nothing is rendered whatever happens.
    scene->setCanvasSize(20, 10);
    manual(scene).pushFrame([](FrameBuffer& b) {
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x)
                b.setPixelValueGray(x, y, (3 * x + 5 * y) % 256);
    });
    scene->startGrabbing(1);
    QTRY_VERIFY(!scene->isGrabbing());
    QCOMPARE(visualizer.count("frame"), 0);

    scene->setZoomFactorAndOffset(8, 3, 2); // 4:1
    scene->setVisualizerVisible(true);
    QTRY_VERIFY(visualizer.newestFrame() && visualizer.newestFrame()->zoomValue() == 8);
    auto frame = visualizer.newestFrame();
    QCOMPARE(frame->width(), 20);
    QCOMPARE(frame->height(), 10);
    QCOMPARE(frame->minX(), 3);
    QCOMPARE(frame->minY(), 2);
    QCOMPARE(frame->pixelSize(), 4);
    QCOMPARE(frame->stepSize(), 1);
    QVERIFY(frame->frameBuffer());
    // Canvas (9, 5) shows image (3 + 9/4, 2 + 5/4) = (5, 3).
    const std::uint32_t v = (3 * 5 + 5 * 3) % 256;
    QCOMPARE(frame->canvasLine(5)[9], 0xff000000u | v << 16 | v << 8 | v);
    // Every frame handed out came back.
    QTRY_COMPARE(scene->statistics().framesRecycled, scene->statistics().framesRendered);
    // Every rendered frame went to the visualizer on a scene thread.
    QVERIFY(!visualizer.anyCallOn(std::this_thread::get_id(), "frame"));
}

void TestDisplayScene::idleSceneShowsSelectedBuffer()
{
    auto scene = simulatorScene({16, 4, 8, true}, 4);
    RecordingVisualizer visualizer;
    visualizer.keepNewestFrame = true;
    scene->attachVisualizer(&visualizer);
    scene->startGrabbing(0);
    QTRY_VERIFY(!scene->isGrabbing());
    scene->setCanvasSize(16, 4);
    scene->setVisualizerVisible(true);
    for (int number : {1, 3, 4, 2}) {
        scene->setBuffer(number);
        // Buffer 1 is the oldest of the four stored frames (index 0).
        QTRY_VERIFY(visualizer.newestFrame()
                    && visualizer.newestFrame()->frameBuffer()->frameIndex() == number - 1);
    }
}

void TestDisplayScene::canvasesAreReusedInSteadyState()
{
    auto scene = simulatorScene({64, 64, 8, true}, 4);
    scene->setRenderRateLimit(0); // render every frame
    RecordingVisualizer visualizer;
    scene->attachVisualizer(&visualizer);
    scene->setCanvasSize(32, 32);
    scene->setVisualizerVisible(true);
    scene->startGrabbing(-1);
    QTRY_VERIFY(scene->statistics().framesRendered >= 20);
    const std::uint64_t allocated = scene->statistics().canvasesAllocated;
    const std::uint64_t rendered = scene->statistics().framesRendered;
    QTRY_VERIFY(scene->statistics().framesRendered >= rendered + 200);
    scene->stopGrabbing();
    QTRY_VERIFY(!scene->isGrabbing());
    QCOMPARE(scene->statistics().canvasesAllocated, allocated);
    QVERIFY(allocated <= 2);
}

void TestDisplayScene::formatChangeInvalidatesThenAdds()
{
    auto scene = simulatorScene({16, 16, 8, true}, 2);
    RecordingVisualizer visualizer;
    scene->attachVisualizer(&visualizer);
    scene->startGrabbing(-1);
    QTRY_VERIFY(visualizer.count("buffer") >= 2);
    auto oldGroup = scene->frameBufferGroup();

    QVERIFY(scene->setFormat({24, 8, 12, false}));
    QVERIFY(!scene->isGrabbing()); // the change stopped the acquisition and waited for it
    const auto calls = visualizer.calls();
    const int invalidated = firstIndex(calls, "invalidated");
    QVERIFY(invalidated >= 0);
    QVERIFY(firstIndex(calls, "stopped") < invalidated);
    QVERIFY(invalidated < firstIndex(calls, "added"));
    QCOMPARE(scene->width(), 24);
    QCOMPARE(scene->height(), 8);
    auto group = scene->frameBufferGroup();
    QVERIFY(group != oldGroup);
    QCOMPARE(group->size(), 0);

    scene->startGrabbing(1);
    QTRY_VERIFY(!scene->isGrabbing() && group->size() == 1);
    auto buffer = group->buffer(0);
    QVERIFY(!buffer->isGray());
    QCOMPARE(buffer->bitsPerPixel(), 12);
    QCOMPARE(buffer->width(), 24);
    // A format the source refuses changes nothing.
    QVERIFY(!scene->setFormat({24, 8, 17, true}));
    QCOMPARE(scene->frameBufferGroup(), group);
}

void TestDisplayScene::callbacksStopAfterDetach()
{
    auto scene = simulatorScene({16, 4, 8, true}, 4);
    RecordingVisualizer visualizer;
    scene->attachVisualizer(&visualizer);
    scene->setCanvasSize(16, 4);
    scene->setVisualizerVisible(true);
    scene->setStatusPeriod(10);
    scene->startGrabbing(-1);
    QTRY_VERIFY(visualizer.count("buffer") >= 3 && visualizer.count("status") >= 2
                && visualizer.count("frame") >= 1);
    // Attachment callbacks came on this thread, the others on the scene's threads.
    QVERIFY(visualizer.anyCallOn(std::this_thread::get_id(), "attached"));
    QVERIFY(visualizer.anyCallOn(std::this_thread::get_id(), "sources"));
    for (const char* name : {"buffer", "status", "frame", "started"})
        QVERIFY2(!visualizer.anyCallOn(std::this_thread::get_id(), name), name);

    scene->detachVisualizer(&visualizer);
    QVERIFY(!visualizer.scene());
    const std::size_t seen = visualizer.calls().size();
    const std::uint64_t acquired = scene->statistics().framesAcquired;
    QTRY_VERIFY(scene->statistics().framesAcquired >= acquired + 5);
    QCOMPARE(visualizer.calls().size(), seen);
    scene->stopGrabbing();
}

void TestDisplayScene::sceneReleasedInsideCallback()
{
    // The host lets go of the scene while a callback on the acquisition thread holds the
    // last reference: the scene then ends on its own thread without deadlock.
    auto scene = simulatorScene({16, 4, 8, true}, 4);
    RecordingVisualizer visualizer;
    std::atomic<bool> inside{false};
    std::atomic<bool> hostReleased{false};
    std::atomic<bool> once{false};
    std::atomic<bool> sceneEnded{false};
    visualizer.onBuffer = [&](const boost::shared_ptr<FrameBuffer>&) {
        if (once.exchange(true))
            return;
        boost::shared_ptr<DisplayScene> last = visualizer.scene();
        inside = true;
        while (!hostReleased.load())
            std::this_thread::yield();
        last.reset(); // the scene ends here, on the acquisition thread
        sceneEnded = true;
    };
    scene->attachVisualizer(&visualizer);
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

void TestDisplayScene::stopRightAfterStart()
{
    // Whether or not the acquisition thread took the start up before the stop, the scene
    // ends idle and its notifications, if any, come in pairs.
    auto scene = DisplayScene::create({8, 8, 8, true}, 2);
    RecordingVisualizer visualizer;
    scene->attachVisualizer(&visualizer);
    for (int i = 0; i < 50; ++i) {
        scene->startGrabbing(-1);
        scene->stopGrabbing();
        QTRY_VERIFY(!scene->isGrabbing());
    }
    QTRY_COMPARE(visualizer.count("started"), visualizer.count("stopped"));
}


void TestDisplayScene::ringThatCannotBeHeldIsRefused_data()
{
    QTest::addColumn<FrameFormat>("format");
    QTest::addColumn<int>("buffers");
    QTest::addColumn<QByteArray>("available"); // VEXO_MEMORY_AVAILABLE; null: the machine's
    QTest::addColumn<QString>("refusal");      // empty: the ring is made
    QTest::addColumn<FrameFormat>("then");     // the format asked for next
    QTest::addColumn<QString>("laterRefusal");

    const FrameFormat small{64, 32, 12, true}; // 4 KiB a buffer
    QTest::newRow("fits to the byte") << small << 4 << QByteArray("16384") << QString()
                                      << FrameFormat{64, 64, 12, true} << QString(); // the old ring is released first
    QTest::newRow("one byte short")
        << small << 4 << QByteArray("16383")
        << "not enough memory for the frame buffers: 4 buffers x 4 KiB = 16 KiB, but 15.9 KiB are available"
        << FrameFormat{64, 8, 12, true} << QString();
    QTest::newRow("grown beyond what is released")
        << small << 4 << QByteArray("16384") << QString() << FrameFormat{64, 65, 12, true}
        << "not enough memory for the frame buffers: 4 buffers x 8.1 KiB = 32.5 KiB, but 32 KiB are available";
    QTest::newRow("colour, one buffer")
        << FrameFormat{64, 32, 8, false} << 1 << QByteArray("12287")
        << "not enough memory for the frame buffers: 1 buffer x 12 KiB = 12 KiB, but 11.9 KiB are available"
        << FrameFormat{64, 16, 8, false} << QString();
    QTest::newRow("beyond 64 bits") << FrameFormat{INT_MAX, INT_MAX, 16, false} << 16 << QByteArray()
                                    << "for the frame buffers: 16 buffers x 15.9 EiB = 15.9 EiB, but "
                                    << FrameFormat{16, 16, 16, false} << QString();
    // The check passes, the allocation fails: the same clean refusal.
    QTest::newRow("allocation fails") << FrameFormat{INT_MAX, INT_MAX, 8, true} << 1
                                      << QByteArray("18446744073709551615")
                                      << "cannot allocate the frame buffers: 1 buffer x 7.9 EiB = 7.9 EiB"
                                      << FrameFormat{16, 16, 8, true} << QString();
}

void TestDisplayScene::ringThatCannotBeHeldIsRefused()
{
    QFETCH(FrameFormat, format);
    QFETCH(int, buffers);
    QFETCH(QByteArray, available);
    QFETCH(QString, refusal);
    QFETCH(FrameFormat, then);
    QFETCH(QString, laterRefusal);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // Their allocators end the process on an impossible size instead of failing it.
    if (refusal.startsWith("cannot allocate"))
        QSKIP("a sanitizer's allocator aborts instead of throwing");
#endif
    const QByteArray saved = qgetenv("VEXO_MEMORY_AVAILABLE");
    const bool wasSet = qEnvironmentVariableIsSet("VEXO_MEMORY_AVAILABLE");
    const auto restore = qScopeGuard([&] {
        if (wasSet)
            qputenv("VEXO_MEMORY_AVAILABLE", saved);
        else
            qunsetenv("VEXO_MEMORY_AVAILABLE");
    });
    if (available.isNull())
        qunsetenv("VEXO_MEMORY_AVAILABLE");
    else
        qputenv("VEXO_MEMORY_AVAILABLE", available);

    auto scene = DisplayScene::create(format, buffers);
    QVERIFY(scene);
    const std::string error = scene->ringError();
    QVERIFY2(QString::fromStdString(error).contains(refusal) && error.empty() == refusal.isEmpty(), error.c_str());
    const int capacity = refusal.isEmpty() ? buffers : 0;
    QCOMPARE(scene->frameBufferGroup()->capacity(), capacity);
    if (capacity == 0) {
        // Nothing to grab into: the start is ignored rather than run without a ring.
        scene->startGrabbing(1);
        QVERIFY(!scene->isGrabbing());
        QCOMPARE(scene->getValidBufferCount(), 0);
    }

    const auto before = scene->frameBufferGroup();
    QCOMPARE(scene->setFormat(then), laterRefusal.isEmpty());
    const std::string later = scene->ringError();
    QVERIFY2(QString::fromStdString(later).contains(laterRefusal) && later.empty() == laterRefusal.isEmpty(),
             later.c_str());
    if (laterRefusal.isEmpty()) {
        QCOMPARE(scene->format(), then);
        QCOMPARE(scene->frameBufferGroup()->capacity(), buffers);
        scene->startGrabbing(1);
        manual(scene).pushFrame([](FrameBuffer& b) { b.setComplete(); });
        QTRY_COMPARE(scene->getValidBufferCount(), 1);
    } else {
        // Refused before anything changed.
        QCOMPARE(scene->format(), format);
        QCOMPARE(scene->frameBufferGroup(), before);
    }
}

void TestDisplayScene::refusedStartKeepsTheStoredFrames_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("infinite") << -1;
    QTest::newRow("sequence") << 0;
    QTest::newRow("single") << 1;
}

void TestDisplayScene::refusedStartKeepsTheStoredFrames()
{
    QFETCH(int, mode);
    auto* source = new RefusingSource(FrameFormat{16, 8, 8, true});
    auto scene = DisplayScene::create(std::unique_ptr<FrameSource>(source), 4);
    RecordingVisualizer visualizer;
    scene->attachVisualizer(&visualizer);
    struct Refusal
    {
        std::string reason;
        bool onCaller;
        bool grabbing;
    };
    std::mutex mutex; // guards refusals, written on the acquisition thread
    std::vector<Refusal> refusals;
    const auto caller = std::this_thread::get_id();
    scene->setGrabRefusedObserver([&](const std::string& reason) {
        std::lock_guard<std::mutex> lock(mutex);
        refusals.push_back({reason, std::this_thread::get_id() == caller, scene->isGrabbing()});
    });
    const auto refusalCount = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return int(refusals.size());
    };

    scene->startGrabbing(0);
    for (int i = 0; i < 6; ++i) // two more than the ring: the sequence ends at four
        source->pushFrame([](FrameBuffer& b) { b.setComplete(); });
    QTRY_COMPARE(visualizer.count("stopped"), 1);
    const auto group = scene->frameBufferGroup();
    QCOMPARE(group->frameCounter(), std::int64_t(4));

    source->refuse = true;
    scene->startGrabbing(mode);
    QTRY_COMPARE(refusalCount(), 1);
    QVERIFY(!scene->isGrabbing());
    QCOMPARE(scene->grabError(), std::string("the camera 127.0.0.1 was lost"));
    {
        std::lock_guard<std::mutex> lock(mutex);
        QCOMPARE(refusals[0].reason, scene->grabError());
        QVERIFY(!refusals[0].onCaller);
        QVERIFY(!refusals[0].grabbing); // told once the scene is idle again
    }
    // Everything stored stays: the ring, its count, and the window that never heard of a grab.
    QCOMPARE(scene->frameBufferGroup(), group);
    QCOMPARE(group->frameCounter(), std::int64_t(4));
    QCOMPARE(scene->getValidBufferCount(), 4);
    QCOMPARE(group->buffer(3)->frameIndex(), std::int64_t(3));
    QCOMPARE(visualizer.count("started"), 1);
    QCOMPARE(visualizer.count("stopped"), 1);

    // A start that works clears the reason and begins anew.
    source->refuse = false;
    scene->startGrabbing(1);
    source->pushFrame([](FrameBuffer& b) { b.setComplete(); });
    QTRY_COMPARE(visualizer.count("stopped"), 2);
    QCOMPARE(scene->grabError(), std::string());
    QCOMPARE(group->frameCounter(), std::int64_t(1));
    QCOMPARE(refusalCount(), 1);

    // A format change right after a refused start waits for it to end, and no longer.
    source->refuse = true;
    scene->startGrabbing(mode);
    QVERIFY(scene->setFormat(FrameFormat{16, 4, 8, true}));
    QVERIFY(!scene->isGrabbing());
    QTRY_COMPARE(refusalCount() + int(scene->grabError().empty()), 2); // unless the stop came first
    scene->setGrabRefusedObserver({});
}

QTEST_GUILESS_MAIN(TestDisplayScene)
#include "tst_display_scene.moc"
