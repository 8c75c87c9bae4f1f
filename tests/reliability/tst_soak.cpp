// Two windows on two running simulators, driven for a while by random but repeatable
// user actions: every frame goes back to its scene, no buffer outlives a format change on
// screen, memory stays flat and every file saved under load holds the frame it came from.
// About 30 s of actions by default; VEXO_SOAK_SECONDS sets another duration and
// VEXO_SOAK_SEED replays a run (the seed is printed).

// First: the group has a member named like Qt's "slots" keyword macro.
#include "vexo-lib-display/FrameBufferGroup.h"

#include "../linetool/LineToolTestSupport.h"
#include "DisplayTestSupport.h"
#include "RuntimeTestSupport.h"

#include "display/SceneEventTypes.h"

#include <QDockWidget>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>

#include <unistd.h>

using namespace vexo::core;

namespace {

// Resident memory may grow this much between the end of the warm-up and the end of the
// run: Qt's pixmap and glyph caches follow the zooms, sizes and texts visited, and the
// allocator keeps the scene threads' freed arenas. A real leak of frames or canvases (a
// 512 x 384 canvas is 768 KiB, a frame buffer 384 KiB) outgrows it within seconds.
constexpr long rssMarginKiB = 64 * 1024;

// Resident memory of this process in KiB; -1 where it cannot be read.
long residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    return statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ').value(1).toLong() * (::sysconf(_SC_PAGESIZE) / 1024) : -1;
}

// The run's length in seconds, read when the program starts.
int soakSeconds = 30;

// One window on one simulator scene, with everything the checks need counted.
struct Channel : QObject
{
    Channel(FrameFormat format, int fps, std::vector<FrameFormat> formats, int index)
        : formats(std::move(formats)), scene(simulatorScene(format, DisplayScene::defaultBufferCount, fps))
        , window(Qt4DisplaySceneVisualizer::create(nullptr, 0, index))
    {
        scene->setCallObserver([this](const SceneCall& c) { // on the scene threads too
            if (c.operation == SceneCall::FreeSceneFrame)
                ++freeCalls, freedFrames += c.a;
        });
        window->installEventFilter(this);
        scene->attachVisualizer(window.get());
        window->resize(700, 500);
        window->show();
    }
    ~Channel() override { scene->detachVisualizer(window.get()); }
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == SceneEventTypes::frameBuffersInvalidated)
            awaitingFrame = true;
        else if (e->type() == SceneEventTypes::sceneFrameChanged && window->scene())
            ++frameEvents, awaitingFrame = false;
        return false;
    }
    auto& d() { return VisualizerInspector::d(window.get()); }
    template <typename T = QPushButton>
    T* child(const char* name) { return window->findChild<T*>(QLatin1String(name)); }

    std::vector<FrameFormat> formats;
    boost::shared_ptr<DisplayScene> scene;
    std::unique_ptr<Qt4DisplaySceneVisualizer> window;
    std::atomic<std::uint64_t> freeCalls{0}, freedFrames{0};
    std::uint64_t frameEvents = 0;
    bool awaitingFrame = false; // a format change was seen, no frame since
};

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void twoWindowsUnderRandomUse()
    {
        linetooltest::dropOffscreenSizeHintWarnings();
        qputenv("VEXO_CONFIG_FILE", folder.filePath(QStringLiteral("config.ini")).toUtf8());
        const quint32 seed = qEnvironmentVariableIsSet("VEXO_SOAK_SEED") ? quint32(qEnvironmentVariableIntValue("VEXO_SOAK_SEED"))
                                                                        : QRandomGenerator::global()->generate() & 0x7fffffff;
        qInfo("soak: seed %u (VEXO_SOAK_SEED=%u replays it), %d s", seed, seed, soakSeconds);
        QRandomGenerator random(seed);
        Channel a({512, 384, 12, true}, 0, {{512, 384, 12, true}, {640, 480, 8, true}, {333, 211, 16, true}, {97, 45, 1, true}}, 0);
        Channel b({300, 200, 10, false}, 200, {{300, 200, 10, false}, {257, 129, 8, false}, {64, 500, 16, false}}, 1);
        QVERIFY(QTest::qWaitForWindowExposed(a.window.get()) && QTest::qWaitForWindowExposed(b.window.get()));

        // The clock only says when to stop and when the warm-up is over.
        QElapsedTimer clock;
        clock.start();
        long rssAfterWarmUp = -1;
        while (clock.elapsed() < soakSeconds * 1000 && !QTest::currentTestFailed()) {
            act(random.bounded(2) ? b : a, random);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5); // frames and the action's posted events
            for (Channel* c : {&a, &b}) {
                const boost::shared_ptr<FrameBuffer> shown = c->d().currentFrameBuffer.lock();
                QVERIFY2(!c->awaitingFrame || !shown, "a buffer is on screen after a format change and before any new frame");
                QVERIFY2(!shown || shown->frameBufferGroup() == c->scene->frameBufferGroup(), "a replaced buffer is back on screen");
            }
            if (rssAfterWarmUp < 0 && clock.elapsed() >= soakSeconds * 250)
                rssAfterWarmUp = residentKiB();
        }
        if (QTest::currentTestFailed())
            return;
        // Wind down: no acquisition, nothing on screen, then every event still queued.
        for (Channel* c : {&a, &b}) {
            // A grab pressed just now can be stopped once the window has heard that it began.
            QTRY_VERIFY(!c->scene->isGrabbing() || c->child("stopButton")->isEnabled());
            c->child("stopButton")->click();
            QTRY_VERIFY(!c->scene->isGrabbing());
            if (c->d().lineProfileDock->isVisible())
                c->child("lineProfileButton")->click();
            if (c->d().lineHistogramDock->isVisible())
                c->child("lineHistogramButton")->click();
            c->window->hide();
        }
        QCoreApplication::processEvents();
        for (Channel* c : {&a, &b}) {
            QTRY_VERIFY(!c->d().frameEventPending.load());
            QVERIFY(!c->scene->view().visible);
            c->scene->detachVisualizer(c->window.get());
            QCoreApplication::sendPostedEvents(c->window.get());
            const DisplayScene::Statistics s = c->scene->statistics();
            // Every frame event the window handled handed exactly one frame back, and the
            // scene counted each one that carried a frame.
            QCOMPARE(c->freeCalls.load(), c->frameEvents);
            QCOMPARE(s.framesRecycled, c->freedFrames.load());
            QVERIFY(s.framesRecycled <= s.framesRendered);
        }
        const long rssAtEnd = residentKiB();
        QVERIFY(rssAfterWarmUp > 0 && rssAtEnd > 0);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        // Under the sanitizers resident memory follows quarantine and shadow pages; their
        // own leak checks cover those builds.
        QVERIFY2(rssAtEnd - rssAfterWarmUp <= rssMarginKiB, qPrintable(QString("grew by %1 KiB").arg(rssAtEnd - rssAfterWarmUp)));
#endif
        QVERIFY(saved > 0);
    }

private:
    void act(Channel& c, QRandomGenerator& random)
    {
        Qt4DisplaySceneVisualizer* window = c.window.get();
        QWidget* canvas = c.child<QWidget>("canvasWidget");
        const auto pick = [&](int n) { return int(random.bounded(n)); };
        const auto onCanvas = [&] { return QPoint(pick(std::max(1, canvas->width())), pick(std::max(1, canvas->height()))); };
        const auto anyOf = [&](auto* range) { range->setValue(range->minimum() + pick(range->maximum() - range->minimum() + 1)); };
        const std::function<void()> grabOrStop = [&] {
            static const char* const buttons[] = {"grabInfiniteButton", "grabSequenceButton", "grabSingleButton"};
            c.child(c.scene->isGrabbing() && pick(2) ? "stopButton" : buttons[pick(3)])->click();
        };
        const std::function<void()> readout = [&] {
            QTest::mouseMove(canvas, onCanvas());
            window->notifyCanvasMousePosition(onCanvas());
        };
        // Grabbing and the readout come twice as often; formats and saves are rarer still.
        const std::function<void()> actions[] = {
            // Zoom and offset by one route each: the wheel and a drag end in the same scene calls.
            [&] { c.child<QSpinBox>("zoomValueSpinBox")->setValue(pick(13)); },
            [&] { anyOf(c.child<QScrollBar>(pick(2) ? "horizontalScrollBar" : "verticalScrollBar")); },
            [&] { window->resize(150 + pick(800), 150 + pick(600)); },
            [&] { c.child(pick(2) ? "lineProfileButton" : "lineHistogramButton")->click(); },
            [&] { // the tools' line
                QWidget* tool = pick(2) ? static_cast<QWidget*>(c.d().lineProfileDialog) : c.d().lineHistogramDialog;
                anyOf(tool->findChild<QSpinBox*>(QStringLiteral("yPositionSpinBox")));
            },
            grabOrStop, grabOrStop,
            [&] { // browse the stored frames
                QSlider* slider = c.child<QSlider>("frameBufferSlider");
                if (slider->isEnabled() && slider->maximum() >= 1)
                    slider->setValue(1 + pick(slider->maximum()));
            },
            [&] { c.child("hexDecButton")->click(); },
            [&] { // pixel values at 64:1
                c.child<QSpinBox>("zoomValueSpinBox")->setValue(12);
                c.child("rgbOverlayButton")->click();
            },
            [&] {
                if (pick(4))
                    return;
                const boost::shared_ptr<FrameBufferGroup> before = c.scene->frameBufferGroup();
                QVERIFY(c.scene->setFormat(c.formats[pick(int(c.formats.size()))]) && c.scene->frameBufferGroup() != before);
                // The window learns of it through its queue; until a frame of the new buffers
                // comes, it must hold none of the old ones.
                QCoreApplication::sendPostedEvents(window);
                QVERIFY2(!c.awaitingFrame || c.d().currentFrameBuffer.expired(), "a buffer of the old format is still on screen");
            },
            [&] { // the newest frame, held so acquisition cannot reuse it, saved while frames come
                const boost::shared_ptr<FrameBufferGroup> group = c.scene->frameBufferGroup();
                const boost::shared_ptr<FrameBuffer> buffer = group->buffer(group->frameCounter() - 1);
                if (pick(4) || !buffer)
                    return;
                const std::vector<std::uint16_t> before = samplesOf(*buffer);
                const QString path = folder.filePath(QStringLiteral("frame-%1.tif").arg(saved++));
                QCOMPARE(buffer->saveTiff(path.toStdString()), 0);
                QVERIFY2(samplesOf(*buffer) == before, "a held buffer changed while it was saved");
                QByteArray bytes; // stored uncompressed, in order, two bytes a sample above 8 bits
                for (const std::uint16_t& sample : before)
                    bytes.append(reinterpret_cast<const char*>(&sample), buffer->bitsPerPixel() > 8 ? 2 : 1);
                QFile file(path);
                QVERIFY2(file.open(QIODevice::ReadOnly) && file.readAll().contains(bytes), qPrintable(path));
                QFile::remove(path);
            },
            readout, readout,
        };
        actions[pick(int(std::size(actions)))]();
    }

    QTemporaryDir folder;
    int saved = 0;
};

int main(int argc, char** argv)
{
    // Qt Test ends a test function after 300 s; a longer soak gets that much beyond its
    // own length for the checks after the run. Read before the first test starts.
    if (qEnvironmentVariableIsSet("VEXO_SOAK_SECONDS"))
        soakSeconds = std::max(1, qEnvironmentVariableIntValue("VEXO_SOAK_SECONDS"));
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((qint64(soakSeconds) + 300) * 1000));
    QApplication app(argc, argv);
    TestSoak test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_soak.moc"
