// The window on the built-in simulator, driven through its own controls, and what a frame
// on its way from the source to the screen allocates.

#include "DisplayTestSupport.h"

#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <execinfo.h>
#include <unistd.h>
#include <cstdio>
#include <atomic>
#include <cerrno>

using namespace vexo::core;

// Allocations counted while a test asks for it: every allocation function of the C library
// is wrapped here, so Qt's image memory counts as well as ours. The sanitizers wrap them
// themselves; under them nothing is counted.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define COUNTS_ALLOCATIONS 1
namespace {
// Canvases, buffers and pixmaps are far larger; small ones (events, label texts) are Qt's own.
constexpr std::size_t largeBytes = 64 * 1024;
std::atomic<bool> counting{false};
std::atomic<int> largeAllocations{0};
// Made by the threads of the scene, which the test itself does not run on.
std::atomic<int> sceneThreadAllocations{0};
thread_local bool testThread = false;
void note(std::size_t bytes)
{
    if (!counting.load(std::memory_order_relaxed))
        return;
    if (bytes >= largeBytes)
        largeAllocations.fetch_add(1, std::memory_order_relaxed);
    if (!testThread)
        sceneThreadAllocations.fetch_add(1, std::memory_order_relaxed);
}

// Takes the frames as a host that only counts them would, allocating nothing itself.
struct FrameCounter : DisplaySceneVisualizer
{
    std::atomic<int> frames{0};
    ~FrameCounter() override
    {
        if (auto s = scene())
            s->detachVisualizer(this);
    }
    void notifySceneAttached() override {}
    void notifySceneFrameChanged(boost::shared_ptr<DisplaySceneFrame> frame, double) override
    {
        ++frames;
        freeSceneFrame(std::move(frame));
    }
    void notifyGrabbingStarted() override {}
    void notifyGrabbingStopped() override {}
    void notifyBufferUpdated(boost::shared_ptr<FrameBuffer>) override {}
    void notifyCameraStatusUpdate(bool, bool, bool, bool, bool, bool, int, int) override {}
    void notifySourcesConnected(bool) override {}
    void notifyFrameBuffersInvalidated() override {}
    void notifyFrameBuffersAdded() override {}
    void requestTimedInterrupt(boost::shared_ptr<StopWatch>, std::uint64_t) override {}
};
} // namespace
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void* malloc(std::size_t bytes)
{
    note(bytes);
    return __libc_malloc(bytes);
}
void* calloc(std::size_t count, std::size_t bytes)
{
    note(count * bytes);
    return __libc_calloc(count, bytes);
}
void* realloc(void* old, std::size_t bytes)
{
    note(bytes);
    return __libc_realloc(old, bytes);
}
void* aligned_alloc(std::size_t alignment, std::size_t bytes)
{
    note(bytes);
    return __libc_memalign(alignment, bytes);
}
int posix_memalign(void** memory, std::size_t alignment, std::size_t bytes)
{
    note(bytes);
    *memory = __libc_memalign(alignment, bytes);
    return *memory ? 0 : ENOMEM;
}
}
#endif

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void firstGrabFillsCanvas_data()
    {
        // readPixel: grab, stop, read a pixel and browse
        columns<QSize, bool, bool>("windowSize", "resizedBeforeShow", "readPixel");
        QTest::newRow("form's own size") << QSize() << false << false;
        QTest::newRow("small, before show") << QSize(420, 260) << true << false;
        QTest::newRow("large, before show") << QSize(1400, 900) << true << false;
        QTest::newRow("resized after show") << QSize(800, 600) << false << false;
        QTest::newRow("grab, stop, browse, read") << QSize(900, 400) << true << true;
    }

    // The layout sizes the canvas after the window's own resize event: the scene must
    // still work with the canvas's real size, from the first frame on.
    void firstGrabFillsCanvas()
    {
        const auto [windowSize, resizedBeforeShow, readPixel] = fetch<QSize, bool, bool>("windowSize", "resizedBeforeShow", "readPixel");
        SimulatorSource::Settings settings;
        settings.format = readPixel ? FrameFormat{320, 160, 12, true} : FrameFormat{2048, 1536, 8, true};
        settings.framesPerSecond = 200;
        const int ringSize = readPixel ? 8 : 4;
        int choices = 0; // buffer choices the scene heard of; outlives the scene's observer
        auto scene = DisplayScene::create(std::unique_ptr<FrameSource>(new SimulatorSource(settings)), ringSize);
        std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 0, 0));
        scene->attachVisualizer(window.get());
        if (resizedBeforeShow)
            window->resize(windowSize);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        if (!resizedBeforeShow && windowSize.isValid())
            window->resize(windowSize);
        auto* canvas = window->findChild<QWidget*>("canvasWidget");
        QTRY_COMPARE(QSize(scene->view().canvasWidth, scene->view().canvasHeight), canvas->size());
        QVERIFY(canvas->width() > 100 && canvas->height() > 30);
        auto& d = VisualizerInspector::d(window.get());
        const auto click = [&](const char* name) { QTest::mouseClick(window->findChild<QPushButton*>(name), Qt::LeftButton); };
        const auto text = [&](const char* name) { return window->findChild<QLabel*>(name)->text(); };
        const auto finish = qScopeGuard([&] { scene->detachVisualizer(window.get()); });
        if (!readPixel) {
            click("grabSingleButton");
            QTRY_VERIFY(d.renderedFrames >= 1);
            QCOMPARE(VisualizerInspector::canvasPixmap(window.get()).size(), canvas->size());
            QTRY_VERIFY(!scene->isGrabbing());
            return;
        }
        click("grabInfiniteButton");
        QTRY_VERIFY(d.renderedFrames >= 5);
        click("stopButton");
        QTRY_VERIFY(!scene->isGrabbing());
        auto* slider = window->findChild<QSlider*>("frameBufferSlider");
        auto* spinBox = window->findChild<QSpinBox*>("frameBufferSpinBox");
        QTRY_COMPARE(slider->maximum(), ringSize);
        QCOMPARE(QList<int>({slider->minimum(), slider->value(), spinBox->minimum(), spinBox->maximum(), spinBox->value()}),
                 QList<int>({1, ringSize, 1, ringSize, ringSize}));
        QVERIFY(window->hasValidBuffersOrIsAcquisitionRunning());
        // The newest buffer is shown once the scene has rendered it again.
        auto group = scene->frameBufferGroup();
        const auto newest = group->buffer(group->frameCounter() - 1);
        QTRY_COMPARE(d.currentFrameBuffer.lock(), newest);
        QTest::mouseMove(canvas, QPoint(37, 23)); // 1:1, no offset: image pixel (37, 23)
        QTRY_COMPARE(text("positionLabel"), QStringLiteral("(37, 23)"));
        const std::uint64_t expected = SimulatorSource::patternValue(settings, 37, 23, newest->frameIndex(), 0);
        QCOMPARE(text("dataLabel") + ' ' + text("frameIndexLabel"),
                 QStringLiteral("0x%1 %2").arg(expected, 3, 16, QLatin1Char('0')).arg(newest->frameIndex()));
        // The two selectors follow each other, and the scene hears of each choice once.
        scene->setCallObserver([&choices](const SceneCall& c) {
            if (c.operation == SceneCall::SetBuffer)
                ++choices;
        });
        slider->setValue(1); // buffer 1 is the oldest stored frame
        QCOMPARE(spinBox->value(), 1);
        QTRY_COMPARE(d.currentFrameBuffer.lock(), group->buffer(group->frameCounter() - ringSize));
        spinBox->setValue(4);
        QCOMPARE(QList<int>({slider->value(), choices}), QList<int>({4, 2}));
    }

    // Canvases, buffers, pixmaps and pictures are made once and reused: in a steady grab
    // nothing large is allocated per frame, at 1:1 and magnified, with both tools following
    // the frames; and the scene's own threads allocate nothing at all. (A window costs them
    // the event Qt allocates for each frame it is told of.)
    void steadyGrabAllocatesNothingLarge_data()
    {
        columns<QString, int, bool, QString>("host", "zoomStep", "gray", "levels");
        QTest::newRow("scene alone, gray 12") << "none" << 6 << true << "";
        QTest::newRow("window, gray 12, 1:1") << "window" << 6 << true << "";
        QTest::newRow("window and both tools, colour 8, 4:1") << "tools" << 8 << false << "";
        // Measured and tabled on the render thread: once, not per frame.
        QTest::newRow("scene alone, gray 12, auto levels") << "none" << 6 << true << "auto";
        QTest::newRow("scene alone, colour 8, levels 10,200") << "none" << 6 << false << "10,200";
    }
    void steadyGrabAllocatesNothingLarge()
    {
#ifndef COUNTS_ALLOCATIONS
        QSKIP("the sanitizers count allocations their own way");
#else
        const auto [host, zoomStep, gray, levels] = fetch<QString, int, bool, QString>("host", "zoomStep", "gray", "levels");
        testThread = true;
        SimulatorSource::Settings settings;
        settings.format = FrameFormat{640, 480, gray ? 12 : 8, gray};
        settings.framesPerSecond = 0;
        auto scene = DisplayScene::create(std::unique_ptr<FrameSource>(new SimulatorSource(settings)), 4);
        scene->setRenderRateLimit(0);
        scene->setStatusPeriod(5); // status reports in every window too
        if (levels == "auto")
            scene->setDisplayLevels(DisplayLevels::automatic());
        else if (!levels.isEmpty())
            scene->setDisplayLevels(DisplayLevels::manual(levels.section(',', 0, 0).toInt(), levels.section(',', 1).toInt()));
        FrameCounter counter;
        std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 0, 0));
        const auto shown = [&] { return host == "none" ? counter.frames.load() : VisualizerInspector::d(window.get()).renderedFrames; };
        const auto finish = qScopeGuard([&] { scene->detachVisualizer(window.get()); });
        if (host == "none") {
            scene->attachVisualizer(&counter);
            scene->setCanvasSize(640, 480);
            scene->setVisualizerVisible(true);
        } else {
            scene->attachVisualizer(window.get());
            window->resize(700, 560);
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
            window->findChild<QSpinBox*>("zoomValueSpinBox")->setValue(zoomStep);
        }
        if (host == "tools") {
            QTest::mouseClick(window->findChild<QPushButton*>("lineProfileButton"), Qt::LeftButton);
            QTest::mouseClick(window->findChild<QPushButton*>("lineHistogramButton"), Qt::LeftButton);
        }
        scene->startGrabbing(-1);
        // Warmed up: the ring is full, the tools have drawn a frame.
        QTRY_VERIFY(shown() >= 30);
        // Pools grow when more canvases or leases are out at once than ever before, which
        // can happen late under load; each growth is once, not per frame. So of seven windows
        // of 50 frames one must allocate nothing, as none would if a frame cost an allocation.
        int large = -1;
        int bySceneThreads = -1;
        for (int window = 0; window < 7 && (large != 0 || bySceneThreads != 0); ++window) {
            const std::uint64_t acquired = scene->statistics().framesAcquired;
            const auto before = shown();
            largeAllocations = 0;
            sceneThreadAllocations = 0;
            counting = true;
            QTRY_VERIFY(shown() >= before + 50 && scene->statistics().framesAcquired >= acquired + 50u);
            counting = false;
            large = largeAllocations;
            // A window costs the scene's threads the events Qt allocates for each frame.
            bySceneThreads = host == "none" ? sceneThreadAllocations.load() : 0;
        }
        scene->stopGrabbing();
        QTRY_VERIFY(!scene->isGrabbing());
        QCOMPARE(large, 0);
        if (host == "none")
            QCOMPARE(bySceneThreads, 0);
#endif
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
