// Two windows on two running simulators, driven for a while by random but repeatable
// user actions: every frame goes back to its scene, no buffer outlives a format change on
// screen, memory stays flat and every saved file matches the frame it came from.
//
// About 30 s of actions by default; VEXO_SOAK_SECONDS sets another duration and
// VEXO_SOAK_SEED replays a run (the seed is printed).

// First: the group has a member named like Qt's "slots" keyword macro.
#include "vexo-lib-display/FrameBufferGroup.h"

#include <QString> // before the helper below, which uses it

#include "QuietOffscreen.h"
#include "ReliabilitySupport.h"
#include "DisplayTestSupport.h"

#include "display/SceneEventTypes.h"
#include "frame/SpinLockVariableGuard.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <QDockWidget>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <memory>
#include <vector>

using namespace vexo::core;

namespace {

// Resident memory may grow this much between the end of the warm-up and the end of the
// run. Qt keeps pixmaps and glyphs in caches whose size depends on which zooms, window
// sizes and texts the random actions happened to visit, and the allocator keeps freed
// arenas of the scene threads; a real leak of frames or canvases (a 512 x 384 canvas is
// 768 KiB, a frame buffer 384 KiB) at the rates here outgrows it within seconds.
constexpr long rssMarginKiB = 64 * 1024;

// One window on one simulator scene, with everything the checks need counted.
struct Channel : QObject
{
    Channel(const SimulatorSource::Settings& settings, std::vector<FrameFormat> formats, int index)
        : formats(std::move(formats))
        , scene(DisplayScene::create(std::unique_ptr<FrameSource>(new SimulatorSource(settings))))
        , window(Qt4DisplaySceneVisualizer::create(nullptr, 0, index))
    {
        scene->setCallObserver([this](const SceneCall& c) {
            if (c.operation == SceneCall::FreeSceneFrame) {
                ++freeCalls;
                freedFrames += c.a;
            }
        });
        window->installEventFilter(this);
        scene->attachVisualizer(window.get());
    }
    ~Channel() override
    {
        if (window)
            scene->detachVisualizer(window.get());
    }

    bool eventFilter(QObject*, QEvent* e) override
    {
        remember(e->type());
        if (e->type() == SceneEventTypes::frameBuffersInvalidated) {
            awaitingFrame = true;
        } else if (e->type() == SceneEventTypes::sceneFrameChanged && window->scene()) {
            ++frameEvents;
            awaitingFrame = false;
            // The frame this event will show and hand back (scene threads swap it under
            // the window's lock).
            auto& record = VisualizerInspector::d(window.get());
            boost::shared_ptr<DisplaySceneFrame> pending;
            {
                vexo::templates::platform::SpinLockVariableGuard guard(&record.frameLock);
                pending = record.pendingFrame;
            }
            if (pending && pending == lastHandedBack.lock())
                ++sameFrameAgain;
            lastHandedBack = pending;
        }
        return false;
    }

    void remember(QEvent::Type type)
    {
        const char* name = type == SceneEventTypes::sceneFrameChanged         ? "frame"
                           : type == SceneEventTypes::frameBuffersInvalidated ? "invalidated"
                           : type == SceneEventTypes::frameBuffersAdded       ? "added"
                           : type == SceneEventTypes::grabbingStarted         ? "started"
                           : type == SceneEventTypes::grabbingStopped         ? "stopped"
                                                                              : nullptr;
        if (!name)
            return;
        history << QLatin1String(name);
        if (history.size() > 12)
            history.removeFirst();
    }

    auto& d() { return VisualizerInspector::d(window.get()); }
    template <typename T>
    T* child(const char* name) { return window->findChild<T*>(QLatin1String(name)); }
    QWidget* canvas() { return child<QWidget>("canvasWidget"); }

    std::vector<FrameFormat> formats;
    boost::shared_ptr<DisplayScene> scene;
    std::unique_ptr<Qt4DisplaySceneVisualizer> window;
    std::atomic<std::uint64_t> freeCalls{0};
    std::atomic<std::uint64_t> freedFrames{0};
    std::uint64_t frameEvents = 0;
    std::uint64_t sameFrameAgain = 0;
    QStringList history; // the window's last scene events, for the report of a failure
    std::uint64_t staleShown = 0; // checks that found a buffer of replaced buffers on screen
    boost::weak_ptr<DisplaySceneFrame> lastHandedBack;
    bool awaitingFrame = false; // a format change was seen, no frame since
};

int envInt(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twoWindowsUnderRandomUse();

private:
    // One random action on one channel.
    void act(Channel& c, QRandomGenerator& random);
    void changeFormat(Channel& c, QRandomGenerator& random);
    void saveDirectly(Channel& c);
    void saveThroughWindow(Channel& c);
    void checkInvariants(Channel& c);

    QTemporaryDir folder;
    int saved = 0;
    int savedThroughWindow = 0;
    int formatChanges = 0;
};

void TestSoak::initTestCase()
{
    profiletest::dropOffscreenSizeHintWarnings();
    QVERIFY(folder.isValid());
    qputenv("VEXO_CONFIG_FILE", folder.filePath(QStringLiteral("config.ini")).toUtf8());
}

void TestSoak::twoWindowsUnderRandomUse()
{
    const int seconds = std::max(1, envInt("VEXO_SOAK_SECONDS", 30));
    const quint32 seed = quint32(envInt("VEXO_SOAK_SEED", int(QRandomGenerator::global()->generate() & 0x7fffffff)));
    qInfo("soak: seed %u (VEXO_SOAK_SEED=%u replays it), %d s", seed, seed, seconds);
    QRandomGenerator random(seed);

    SimulatorSource::Settings gray;
    gray.format = {512, 384, 12, true};
    gray.framesPerSecond = 0; // as fast as possible
    SimulatorSource::Settings colour;
    colour.format = {300, 200, 10, false};
    colour.framesPerSecond = 200;
    Channel a(gray, {{512, 384, 12, true}, {640, 480, 8, true}, {333, 211, 16, true}, {97, 45, 1, true}}, 0);
    Channel b(colour, {{300, 200, 10, false}, {257, 129, 8, false}, {64, 500, 16, false}}, 1);
    std::vector<Channel*> channels{&a, &b};
    for (Channel* c : channels) {
        c->window->resize(700, 500);
        c->window->show();
        QVERIFY(QTest::qWaitForWindowExposed(c->window.get()));
    }

    QElapsedTimer clock;
    clock.start();
    const qint64 runFor = qint64(seconds) * 1000;
    const qint64 warmUp = runFor / 4;
    long rssAfterWarmUp = -1;
    std::uint64_t actions = 0;
    std::uint64_t actionsAfterWarmUp = 0;
    std::uint64_t framesAfterWarmUp = 0;
    qint64 measuredFrom = 0;

    while (clock.elapsed() < runFor) {
        Channel& c = *channels[random.bounded(int(channels.size()))];
        act(c, random);
        if (QTest::currentTestFailed())
            return;
        // Let frames and the posted events of the action in.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        for (Channel* each : channels) {
            checkInvariants(*each);
            if (QTest::currentTestFailed())
                return;
        }
        ++actions;
        if (rssAfterWarmUp < 0 && clock.elapsed() >= warmUp) {
            rssAfterWarmUp = reliability::residentKiB();
            actionsAfterWarmUp = actions;
            framesAfterWarmUp = a.frameEvents + b.frameEvents;
            measuredFrom = clock.elapsed();
        }
    }

    // Wind down: no acquisition, nothing on screen, then every event still queued.
    for (Channel* c : channels) {
        c->child<QPushButton>("stopButton")->click();
        QTRY_VERIFY(!c->scene->isGrabbing());
        if (c->d().lineProfileDock->isVisible())
            c->child<QPushButton>("lineProfileButton")->click();
        if (c->d().lineHistogramDock->isVisible())
            c->child<QPushButton>("lineHistogramButton")->click();
        c->window->hide();
    }
    QCoreApplication::processEvents();
    for (Channel* c : channels) {
        QTRY_VERIFY(!c->d().frameEventPending.load());
        QVERIFY(!c->scene->view().visible);
        c->scene->detachVisualizer(c->window.get());
        QCoreApplication::sendPostedEvents(c->window.get());
    }
    const long rssAtEnd = reliability::residentKiB();
    const qint64 measured = std::max<qint64>(1, clock.elapsed() - measuredFrom);

    for (Channel* c : channels) {
        const DisplayScene::Statistics s = c->scene->statistics();
        qInfo("soak: window %d: %llu frame events, %llu hand-backs (%llu with a frame), %llu recycled, "
              "%llu rendered, %llu acquired, %llu dropped, %llu canvases, %llu events repeated a frame, %llu checks saw an invalidated buffer on screen",
              int(c == &b), (unsigned long long)c->frameEvents,
              (unsigned long long)c->freeCalls.load(), (unsigned long long)c->freedFrames.load(),
              (unsigned long long)s.framesRecycled, (unsigned long long)s.framesRendered,
              (unsigned long long)s.framesAcquired, (unsigned long long)s.framesDropped,
              (unsigned long long)s.canvasesAllocated, (unsigned long long)c->sameFrameAgain,
              (unsigned long long)c->staleShown);
        // Every frame event the window handled handed exactly one frame back, and the
        // scene counted each one that carried a frame.
        QCOMPARE(c->freeCalls.load(), c->frameEvents);
        QCOMPARE(s.framesRecycled, c->freedFrames.load());
        QVERIFY(s.framesRecycled <= s.framesRendered);
    }

    const double actionRate = 1000.0 * double(actions - actionsAfterWarmUp) / double(measured);
    const double frameRate = 1000.0 * double(a.frameEvents + b.frameEvents - framesAfterWarmUp) / double(measured);
    qInfo("soak: %llu actions, %.1f actions/s, %.1f frames shown/s (both windows), %d format changes, "
          "%d files saved (%d through the window)",
          (unsigned long long)actions, actionRate, frameRate, formatChanges, saved, savedThroughWindow);
    qInfo("soak: VmRSS %ld KiB after warm-up, %ld KiB at the end (margin %ld KiB)", rssAfterWarmUp,
          rssAtEnd, rssMarginKiB);
    QVERIFY(rssAfterWarmUp > 0 && rssAtEnd > 0);
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer keeps freed memory in quarantine (up to 256 MiB) and pads every
    // block, so resident memory says nothing here; its leak check covers this build.
    qInfo("soak: resident memory not judged under AddressSanitizer");
#elif defined(__SANITIZE_THREAD__)
    // Under ThreadSanitizer resident memory follows the history of allocations (its
    // shadow and metadata pages stay), not the memory alive: it moved by more than the
    // margin both up and down between runs. The plain and leak-checked runs judge it.
    qInfo("soak: resident memory not judged under ThreadSanitizer");
#else
    QVERIFY2(rssAtEnd - rssAfterWarmUp <= rssMarginKiB,
             qPrintable(QStringLiteral("resident memory grew by %1 KiB").arg(rssAtEnd - rssAfterWarmUp)));
#endif
    QVERIFY(saved > 0);
    // A frame of the buffers a format change replaced must not come back on screen.
    QCOMPARE(a.staleShown, std::uint64_t(0));
    QCOMPARE(b.staleShown, std::uint64_t(0));
}

void TestSoak::act(Channel& c, QRandomGenerator& random)
{
    Qt4DisplaySceneVisualizer* window = c.window.get();
    QWidget* canvas = c.canvas();
    const auto onCanvas = [&] {
        return QPoint(random.bounded(std::max(1, canvas->width())), random.bounded(std::max(1, canvas->height())));
    };
    switch (random.bounded(17)) {
    case 0: // zoom through the spin box
        c.child<QSpinBox>("zoomValueSpinBox")->setValue(random.bounded(13));
        break;
    case 1: { // wheel over the canvas
        const QPointF at = canvas->mapTo(window, onCanvas());
        QWheelEvent wheel(at, window->mapToGlobal(at.toPoint()), QPoint(),
                          QPoint(0, random.bounded(2) ? 120 : -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(window, &wheel);
        break;
    }
    case 2: { // scroll bars
        QScrollBar* bar = c.child<QScrollBar>(random.bounded(2) ? "horizontalScrollBar" : "verticalScrollBar");
        bar->setValue(bar->minimum() + random.bounded(bar->maximum() - bar->minimum() + 1));
        break;
    }
    case 3: { // drag the picture
        const QPoint from = onCanvas();
        QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, canvas->mapTo(window, from));
        for (int i = 0; i < 3; ++i) {
            QMouseEvent move(QEvent::MouseMove, onCanvas(), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            window->notifyMouseMoveEvent(&move);
        }
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, canvas->mapTo(window, from));
        break;
    }
    case 4:
        window->resize(150 + random.bounded(800), 150 + random.bounded(600));
        break;
    case 5:
        c.child<QPushButton>(random.bounded(2) ? "lineProfileButton" : "lineHistogramButton")->click();
        break;
    case 6: { // the tools' line
        QWidget* dialog = random.bounded(2) ? static_cast<QWidget*>(c.d().lineProfileDialog)
                                            : static_cast<QWidget*>(c.d().lineHistogramDialog);
        auto* line = dialog->findChild<QSpinBox*>(QStringLiteral("yPositionSpinBox"));
        QVERIFY(line);
        line->setValue(line->minimum() + random.bounded(line->maximum() - line->minimum() + 1));
        break;
    }
    case 7:
    case 8: { // grab in one of the three modes, or stop
        static const char* const buttons[] = {"grabInfiniteButton", "grabSequenceButton", "grabSingleButton"};
        if (c.scene->isGrabbing() && random.bounded(2))
            c.child<QPushButton>("stopButton")->click();
        else
            c.child<QPushButton>(buttons[random.bounded(3)])->click();
        break;
    }
    case 9: { // browse the stored frames
        QSlider* slider = c.child<QSlider>("frameBufferSlider");
        if (slider->isEnabled() && slider->maximum() >= 1)
            slider->setValue(1 + random.bounded(slider->maximum()));
        break;
    }
    case 10:
        c.child<QPushButton>("hexDecButton")->click();
        break;
    case 11: // pixel values at 64:1
        c.child<QSpinBox>("zoomValueSpinBox")->setValue(12);
        c.child<QPushButton>("rgbOverlayButton")->click();
        break;
    case 12:
        if (random.bounded(4) == 0)
            changeFormat(c, random);
        break;
    case 13:
        if (random.bounded(3) == 0)
            saveDirectly(c);
        break;
    case 14:
        if (random.bounded(6) == 0)
            saveThroughWindow(c);
        break;
    default: // the readout under the mouse
        QTest::mouseMove(canvas, onCanvas());
        window->notifyCanvasMousePosition(onCanvas());
        break;
    }
}

void TestSoak::changeFormat(Channel& c, QRandomGenerator& random)
{
    const FrameFormat next = c.formats[random.bounded(int(c.formats.size()))];
    const boost::shared_ptr<FrameBufferGroup> before = c.scene->frameBufferGroup();
    QVERIFY(c.scene->setFormat(next));
    ++formatChanges;
    QVERIFY(c.scene->frameBufferGroup() != before);
    // The window learns of it through its queue; until a frame of the new buffers comes,
    // it must hold none of the old ones.
    QCoreApplication::sendPostedEvents(c.window.get());
    if (c.awaitingFrame)
        QVERIFY2(c.d().currentFrameBuffer.expired(), "a buffer of the old format is still on screen");
}

void TestSoak::saveDirectly(Channel& c)
{
    const boost::shared_ptr<FrameBufferGroup> group = c.scene->frameBufferGroup();
    // Held while saving, so acquisition cannot reuse it.
    const boost::shared_ptr<FrameBuffer> newest = group->buffer(group->frameCounter() - 1);
    if (!newest)
        return;
    const std::vector<std::uint16_t> before = reliability::samplesOf(*newest);
    const QString path = folder.filePath(QStringLiteral("direct-%1.tif").arg(saved));
    QCOMPARE(newest->saveTiff(path.toStdString()), 0);
    ++saved;
    QVERIFY2(reliability::samplesOf(*newest) == before, "a held buffer changed while it was saved");
    QVERIFY2(reliability::readTiff(path, newest->width(), newest->height(), newest->channels()) == before,
             qPrintable(path));
    QFile::remove(path);
}

void TestSoak::saveThroughWindow(Channel& c)
{
    auto* save = c.child<QPushButton>("saveFrameButton");
    const boost::shared_ptr<FrameBuffer> shown = c.d().currentFrameBuffer.lock();
    // A buffer of replaced buffers has no group to save from; checkInvariants reports it.
    if (!save->isEnabled() || !shown || c.scene->isGrabbing()
        || shown->frameBufferGroup() != c.scene->frameBufferGroup())
        return;
    const std::vector<std::uint16_t> before = reliability::samplesOf(*shown);
    const QString path = folder.filePath(QStringLiteral("window-%1.tif").arg(saved));
    {
        DialogAnswerer answerer;
        answerer.fileNames << path;
        save->click();
        QCOMPARE(answerer.seen, QStringList{QStringLiteral("file")});
    }
    ++saved;
    ++savedThroughWindow;
    QVERIFY2(reliability::readTiff(path, shown->width(), shown->height(), shown->channels()) == before,
             qPrintable(path));
    QFile::remove(path);
}

void TestSoak::checkInvariants(Channel& c)
{
    const boost::shared_ptr<FrameBuffer> shown = c.d().currentFrameBuffer.lock();
    if (c.awaitingFrame)
        QVERIFY2(!shown, "a buffer is on screen after a format change and before any new frame");
    if (shown && shown->frameBufferGroup() != c.scene->frameBufferGroup()) {
        if (c.staleShown++ == 0)
            qWarning("window %d shows a buffer of replaced buffers (frame %lld); scene grabbing %d, last events: %s",
                     c.d().dmaIndex, (long long)shown->frameIndex(),
                     int(c.scene->isGrabbing()), qPrintable(c.history.join(' ')));
    }
}

int main(int argc, char** argv)
{
    // Qt Test ends a test function after 300 s; a longer soak gets that much beyond its
    // own length for the checks after the run. Read before the first test starts.
    const int seconds = std::max(1, envInt("VEXO_SOAK_SECONDS", 30));
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((qint64(seconds) + 300) * 1000));
    QApplication app(argc, argv);
    TestSoak test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_soak.moc"
