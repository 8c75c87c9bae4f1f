// The window at work: frames on screen, status indicators, acquisition controls, zoom and
// scrolling, and the pixel readout, driven through the window's own inputs.

#include "VisualizerInspector.h"

#include "display/Qt4RenderWidget.h"

#include "vexo-core/StopWatch.h"
#include "vexo-core/VelmarApplication.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/ManualFrameSource.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <vector>

using namespace vexo::core;

Q_DECLARE_METATYPE(DisplaySceneFrame::Geometry)

namespace {

struct Recorded
{
    std::vector<SceneCall> calls;
    int count(SceneCall::Operation op) const
    {
        int n = 0;
        for (const SceneCall& c : calls)
            n += c.operation == op ? 1 : 0;
        return n;
    }
    const SceneCall* last(SceneCall::Operation op) const
    {
        for (auto it = calls.rbegin(); it != calls.rend(); ++it)
            if (it->operation == op)
                return &*it;
        return nullptr;
    }
};

// A window on a scene whose frames the test pushes, every call on the scene recorded.
struct Rig
{
    explicit Rig(FrameFormat format = {1000, 800, 12, true}, bool show = false)
        : scene(DisplayScene::create(format, 8))
        , window(Qt4DisplaySceneVisualizer::create(nullptr, 0, 0))
    {
        scene->setStatusPeriod(0);
        scene->setCallObserver([this](const SceneCall& c) {
            if (QThread::currentThread() == qApp->thread())
                recorded.calls.push_back(c);
        });
        scene->attachVisualizer(window.get());
        if (show) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        }
    }
    ~Rig() { scene->detachVisualizer(window.get()); }

    auto& d() { return VisualizerInspector::d(window.get()); }
    template <typename T>
    T* child(const char* name) { return window->findChild<T*>(name); }
    QString text(const char* name) { return child<QLabel>(name)->text(); }
    void pump() { QCoreApplication::sendPostedEvents(window.get()); }

    // Shows a frame of `buffer` as if the scene had rendered it with this geometry.
    void show(const boost::shared_ptr<FrameBuffer>& buffer, DisplaySceneFrame::Geometry g,
              QSize canvas = QSize(64, 32))
    {
        boost::shared_ptr<DisplaySceneFrame> frame(new DisplaySceneFrame(canvas.width(), canvas.height()));
        frame->setFrameBuffer(buffer);
        frame->setGeometry(g);
        frame->setRenderTimeInMicroseconds(123);
        window->notifySceneFrameChanged(frame, 25.0);
        pump();
    }
    // Makes the window believe it is grabbing with `updates` buffer updates recorded.
    void grabbingWith(const boost::shared_ptr<FrameBuffer>& buffer, int updates = 1)
    {
        window->notifyGrabbingStarted();
        pump();
        for (int i = 0; i < updates; ++i)
            window->notifyBufferUpdated(buffer);
    }

    boost::shared_ptr<DisplayScene> scene;
    std::unique_ptr<Qt4DisplaySceneVisualizer> window;
    Recorded recorded;
};

boost::shared_ptr<FrameBuffer> grayBuffer(int w, int h, int bits)
{
    boost::shared_ptr<FrameBuffer> b(new FrameBuffer(w, h, bits, true));
    b->setComplete();
    return b;
}

// Answers the next modal dialog: records its title and text, then presses `button`.
struct ModalAnswer
{
    QString title;
    QString text;
    explicit ModalAnswer(QMessageBox::StandardButton button)
    {
        QTimer::singleShot(0, [this, button] { answer(button); });
    }
    void answer(QMessageBox::StandardButton button)
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(10, [this, button] { answer(button); });
            return;
        }
        title = box->windowTitle();
        text = box->text();
        box->button(button)->click();
    }
};

} // namespace

class TestWindowAtWork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void frameHandOverShowsAndFrees();
    void pixelValueText_data();
    void pixelValueText();
    void timedInterruptDelay_data();
    void timedInterruptDelay();
    void fillLevel_data();
    void fillLevel();
    void clockCombinesSources();
    void frameInformation_data();
    void frameInformation();
    void acquisitionRate_data();
    void acquisitionRate();
    void overflowCounters();
    void enableStates_data();
    void enableStates();
    void grabPress_data();
    void grabPress();
    void bufferBrowsing();
    void scrollBarRanges_data();
    void scrollBarRanges();
    void zoomButtons();
    void wheelZoomAboutPoint_data();
    void wheelZoomAboutPoint();
    void dragCarriesRemainder_data();
    void dragCarriesRemainder();
    void readout_data();
    void readout();

private:
    QTemporaryDir configDir; // the configuration file of the whole run
};

void TestWindowAtWork::initTestCase()
{
    qputenv("VEXO_CONFIG_FILE", configDir.filePath("config.ini").toUtf8());
}

void TestWindowAtWork::frameHandOverShowsAndFrees()
{
    Rig rig;
    auto buffer = grayBuffer(40, 30, 12);
    const auto picture = [&rig] { return VisualizerInspector::canvasPixmap(rig.window.get()); };
    int freed = 0;
    rig.scene->setCallObserver([&](const SceneCall& c) { freed += c.operation == SceneCall::FreeSceneFrame; });

    // Grabbing, but no buffer update yet: the frame goes back unseen.
    rig.window->notifyGrabbingStarted();
    rig.pump();
    rig.show(buffer, {});
    QCOMPARE(freed, 1);
    QCOMPARE(rig.d().renderedFrames, std::uint64_t(0));
    QVERIFY(picture().isNull());

    // After the first buffer update frames are shown, and every one is handed back.
    rig.window->notifyBufferUpdated(buffer);
    rig.show(buffer, {3, 4, 1, 1, 6});
    QCOMPARE(freed, 2);
    QCOMPARE(rig.d().renderedFrames, std::uint64_t(1));
    QVERIFY(!picture().isNull());
    QCOMPARE(rig.d().frameMinX, 3);
    QCOMPARE(rig.d().currentFrameBuffer.lock(), buffer);
    QCOMPARE(rig.text("dataHeaderLabel"), QStringLiteral("Data (Gray): "));
    QCOMPARE(rig.d().renderTimeLabel->text(), QStringLiteral("Render Time (microseconds): <b>123</b>"));

    boost::shared_ptr<FrameBuffer> colour(new FrameBuffer(40, 30, 8, false));
    rig.show(colour, {});
    QCOMPARE(rig.text("dataHeaderLabel"), QStringLiteral("Data (R,G,B): "));
    QCOMPARE(freed, 3);

    // Grabbing started clears the canvas; stopping keeps the picture.
    rig.window->notifyGrabbingStarted();
    rig.pump();
    QVERIFY(picture().isNull());
    QCOMPARE(rig.d().renderTimeLabel->text(), QStringLiteral("Render Time (microseconds): <b>-</b>"));

    // Idle without valid buffers: nothing is shown.
    rig.window->notifyGrabbingStopped();
    rig.pump();
    rig.show(buffer, {});
    QVERIFY(picture().isNull());
    QCOMPARE(freed, 4);
}

void TestWindowAtWork::pixelValueText_data()
{
    QTest::addColumn<int>("zoom");
    QTest::addColumn<bool>("showValues");
    QTest::addColumn<bool>("expectText");
    QTest::newRow("16:1, switched on") << 10 << true << false;
    QTest::newRow("32:1, switched on") << 11 << true << true;
    QTest::newRow("64:1, switched on") << 12 << true << true;
    QTest::newRow("64:1, switched off") << 12 << false << false;
}

void TestWindowAtWork::pixelValueText()
{
    QFETCH(int, zoom);
    QFETCH(bool, showValues);
    QFETCH(bool, expectText);
    Rig rig;
    auto buffer = grayBuffer(4, 4, 12);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            buffer->setPixelValueGray(x, y, 0x0ff);
    rig.grabbingWith(buffer);
    rig.d().showPixelValues = showValues;
    const int cell = 1 << (zoom - 6);
    rig.show(buffer, {0, 0, 1, cell, zoom}, QSize(2 * cell, cell));
    // The canvas is black; any text changes the picture.
    const QImage picture =
        VisualizerInspector::canvasPixmap(rig.window.get()).toImage().convertToFormat(QImage::Format_RGB32);
    QImage plain(picture.size(), QImage::Format_RGB32);
    plain.fill(Qt::black);
    QCOMPARE(picture != plain, expectText);
    // Text colour: the black canvas with bit 6 of each channel flipped, 0x404040; text
    // smoothing only blends it with the black below.
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            QVERIFY(qRed(p) <= 0x40 && qRed(p) == qGreen(p) && qGreen(p) == qBlue(p));
        }
}

namespace {
// A stop watch that reports a fixed elapsed time.
struct FixedStopWatch : StopWatch
{
    explicit FixedStopWatch(std::uint64_t elapsed) : elapsed(elapsed) {}
    std::uint64_t elapsedMicroseconds(bool) override { return elapsed; }
    std::uint64_t elapsed;
};
} // namespace

void TestWindowAtWork::timedInterruptDelay_data()
{
    QTest::addColumn<qulonglong>("interval");
    QTest::addColumn<qulonglong>("elapsed");
    QTest::addColumn<int>("waitMs"); // -1: at once
    QTest::newRow("passed") << 1000ull << 1000ull << -1;
    QTest::newRow("long passed") << 1000ull << 5000ull << -1;
    QTest::newRow("1500 left") << 2500ull << 1000ull << 2;
    QTest::newRow("999 left") << 1999ull << 1000ull << 1;
    QTest::newRow("1000 left") << 2000ull << 1000ull << 2;
}

void TestWindowAtWork::timedInterruptDelay()
{
    QFETCH(qulonglong, interval);
    QFETCH(qulonglong, elapsed);
    QFETCH(int, waitMs);
    Rig rig;
    rig.recorded.calls.clear();
    rig.window->requestTimedInterrupt(boost::shared_ptr<StopWatch>(new FixedStopWatch(elapsed)), interval);
    rig.pump();
    QTimer* timer = rig.d().renderInterruptTimer;
    if (waitMs < 0) {
        QCOMPARE(rig.recorded.count(SceneCall::TimerInterrupt), 1);
        QVERIFY(!timer->isActive());
    } else {
        QCOMPARE(rig.recorded.count(SceneCall::TimerInterrupt), 0);
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), waitMs);
        // A second request replaces the first.
        rig.window->requestTimedInterrupt(boost::shared_ptr<StopWatch>(new FixedStopWatch(0)), 7000);
        rig.pump();
        QCOMPARE(timer->interval(), 8);
        QTRY_COMPARE(rig.recorded.count(SceneCall::TimerInterrupt), 1);
    }
}

void TestWindowAtWork::fillLevel_data()
{
    QTest::addColumn<bool>("overflow");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("picture"); // empty: hidden
    QTest::addColumn<QString>("toolTip");
    QTest::newRow("not reported") << false << 0 << -2 << QString() << QString();
    QTest::newRow("step 0") << false << 0 << -1 << "buffer_0" << "Buffer Filllevel: 0%";
    QTest::newRow("step 2") << false << 2 << -1 << "buffer_2" << "Buffer Filllevel: 50%";
    QTest::newRow("step 7") << false << 7 << -1 << "buffer_3" << "Buffer Filllevel: 75%";
    QTest::newRow("9%") << false << 0 << 9 << "buffer_0" << "Buffer Filllevel: 9%";
    QTest::newRow("10%") << false << 0 << 10 << "buffer_1" << "Buffer Filllevel: 10%";
    QTest::newRow("24%") << false << 0 << 24 << "buffer_1" << "Buffer Filllevel: 24%";
    QTest::newRow("25%") << false << 0 << 25 << "buffer_2" << "Buffer Filllevel: 25%";
    QTest::newRow("49%") << false << 0 << 49 << "buffer_2" << "Buffer Filllevel: 49%";
    QTest::newRow("50%") << false << 0 << 50 << "buffer_3" << "Buffer Filllevel: 50%";
    QTest::newRow("74%") << false << 0 << 74 << "buffer_3" << "Buffer Filllevel: 74%";
    QTest::newRow("75%") << false << 0 << 75 << "buffer_overflow" << "Buffer Filllevel: 75%";
    QTest::newRow("-5%") << false << 0 << -5 << "buffer_0" << "Buffer Filllevel: -5%";
    QTest::newRow("overflow wins") << true << 0 << 3 << "buffer_overflow" << "Buffer Filllevel: 100%";
    QTest::newRow("overflow, steps") << true << 1 << -1 << "buffer_overflow" << "Buffer Filllevel: 100%";
}

void TestWindowAtWork::fillLevel()
{
    QFETCH(bool, overflow);
    QFETCH(int, step);
    QFETCH(int, percent);
    QFETCH(QString, picture);
    QFETCH(QString, toolTip);
    Rig rig;
    rig.window->notifyCameraStatusUpdate(false, true, false, true, false, overflow, step, percent);
    rig.pump();
    QLabel* fill = rig.d().bufferFillLabel;
    QCOMPARE(fill->isHidden(), picture.isEmpty());
    if (picture.isEmpty()) {
        QCOMPARE(fill->toolTip(), QStringLiteral("Buffer Filllevel"));
        return;
    }
    QCOMPARE(fill->pixmap(Qt::ReturnByValue).toImage(),
             QPixmap(QStringLiteral(":/display-qt4/%1.png").arg(picture)).toImage());
    QCOMPARE(fill->toolTip(), toolTip);
    // The lamps follow their flags.
    QCOMPARE(rig.d().fvalLabel->toolTip(), QStringLiteral("FVAL ON"));
    QCOMPARE(rig.d().lvalLabel->toolTip(), QStringLiteral("LVAL OFF"));
    QCOMPARE(rig.d().exsyncLabel->pixmap(Qt::ReturnByValue).toImage(),
             QPixmap(":/display-qt4/exsync_on.png").toImage());
}

void TestWindowAtWork::clockCombinesSources()
{
    Rig rig;
    rig.window->enableCameraClockSignal(true);
    QSignalSpy changed(rig.window.get(), &Qt4DisplaySceneVisualizer::cameraClockChanged);
    rig.window->notifySourcesConnected(false);
    const auto status = [&](bool clock) {
        rig.window->notifyCameraStatusUpdate(clock, false, false, false, false, false, 0, -2);
        rig.pump();
    };
    status(true);
    status(true); // same state again: no second signal
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(2).toBool(), true);
    QVERIFY(rig.window->isCameraClockOn());
    status(false);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(rig.d().clockLabel->toolTip(), QStringLiteral("NO Sources Detected"));
    // Sources connected keep the combined state on even without a clock.
    rig.window->notifySourcesConnected(true);
    status(false);
    QCOMPARE(changed.count(), 3);
    QVERIFY(rig.window->isCameraClockOn());
    QCOMPARE(rig.d().clockLabel->toolTip(), QStringLiteral("Sources Detected"));
    // Without the signal switched on the state still changes.
    rig.window->enableCameraClockSignal(false);
    rig.window->notifySourcesConnected(false);
    status(false);
    QCOMPARE(changed.count(), 3);
    QVERIFY(!rig.window->isCameraClockOn());
}

void TestWindowAtWork::frameInformation_data()
{
    QTest::addColumn<qulonglong>("length");
    QTest::addColumn<int>("sceneWidth");
    QTest::addColumn<int>("bits");
    QTest::addColumn<QString>("dma");
    QTest::addColumn<QString>("height");
    QTest::newRow("whole lines") << 1048576ull << 1024 << 8 << "0x100000 Bytes" << "1024";
    QTest::newRow("partial line") << 1000000ull << 1024 << 8 << "0xf4240 Bytes" << "976.56";
    QTest::newRow("4096 bytes") << 4096ull << 1024 << 8 << "0x1000 Bytes" << "4";
    // No width to divide by: the height reads "-".
    QTest::newRow("no width") << 4096ull << 0 << 8 << "0x1000 Bytes" << "-";
}

void TestWindowAtWork::frameInformation()
{
    QFETCH(qulonglong, length);
    QFETCH(int, sceneWidth);
    QFETCH(int, bits);
    QFETCH(QString, dma);
    QFETCH(QString, height);
    Rig rig({sceneWidth, 16, bits, true});
    auto buffer = grayBuffer(8, 8, bits);
    buffer->setTransferLength(length);
    buffer->setTag(255);
    buffer->setFlags(5);
    buffer->setFrameIndex(-3);
    rig.grabbingWith(buffer);
    rig.show(buffer, {});
    QCOMPARE(rig.text("frameIndexLabel"), QStringLiteral("-3"));
    QCOMPARE(rig.text("frameTagLabel"), QStringLiteral("255 (0x0000ff)"));
    QCOMPARE(rig.text("frameFlagsLabel"), QStringLiteral("0x05"));
    QCOMPARE(rig.text("dmaTransferLabel"), dma);
    QVERIFY(rig.child<QLabel>("dmaTransferLabel")->isEnabled());
    const QString tip = rig.child<QLabel>("dmaTransferLabel")->toolTip();
    QVERIFY2(tip.contains(QStringLiteral("<b>Current Image Height:</b></td><td style='white-space:nowrap'>%1 Pixel</td>").arg(height)), qPrintable(tip));
    QVERIFY(tip.startsWith(QStringLiteral("<b><u>DMA Transfer Length Details</u></b><br><table>")));
    QVERIFY(tip.contains(QStringLiteral("%1 (0x%2) Bytes").arg(length).arg(length, 0, 16)));

    // Once the buffer is gone, the labels fall back to "-".
    rig.d().currentFrameBuffer.reset();
    rig.window->notifyGrabbingStopped();
    rig.pump();
    QCOMPARE(rig.text("frameTagLabel"), QStringLiteral("-"));
    QVERIFY(!rig.child<QLabel>("frameTagLabel")->isEnabled());
    QCOMPARE(rig.child<QLabel>("dmaTransferLabel")->toolTip(), QString());
}

void TestWindowAtWork::acquisitionRate_data()
{
    QTest::addColumn<QList<qlonglong>>("indices");
    QTest::addColumn<QList<qulonglong>>("stamps");
    QTest::addColumn<QString>("expected");
    QTest::newRow("three updates") << QList<qlonglong>{10, 11, 13} << QList<qulonglong>{0, 10000, 30000}
                                   << "Acquisition FPS: <b>100.00</b>";
    QTest::newRow("one update") << QList<qlonglong>{10} << QList<qulonglong>{0} << "Acquisition FPS: <b>-</b>";
    QTest::newRow("equal stamps") << QList<qlonglong>{10, 11} << QList<qulonglong>{500, 500}
                                  << "Acquisition FPS: <b>-</b>";
    QTest::newRow("no frames between") << QList<qlonglong>{7, 7} << QList<qulonglong>{0, 100}
                                       << "Acquisition FPS: <b>-</b>";
    // 70 updates: update 69 (slot 5) against update 6 (slot 6), i.e. 63 frames.
    QList<qlonglong> indices;
    QList<qulonglong> stamps;
    for (int i = 0; i < 70; ++i) {
        indices << (i < 6 ? 1000 + i : 2 * i);
        stamps << qulonglong(i < 6 ? 999999 : 1000 * i);
    }
    QTest::newRow("ring wrapped") << indices << stamps << "Acquisition FPS: <b>2000.00</b>";
}

void TestWindowAtWork::acquisitionRate()
{
    QFETCH(QList<qlonglong>, indices);
    QFETCH(QList<qulonglong>, stamps);
    QFETCH(QString, expected);
    Rig rig;
    auto buffer = grayBuffer(8, 8, 8);
    rig.window->notifyGrabbingStarted();
    rig.pump();
    for (int i = 0; i < indices.size(); ++i) {
        buffer->setFrameIndex(indices[i]);
        buffer->setTimestamp(stamps[i]);
        rig.window->notifyBufferUpdated(buffer);
    }
    rig.show(buffer, {});
    QCOMPARE(rig.d().acquisitionFpsLabel->text(), expected);
    QCOMPARE(rig.d().acquisitionFpsLabel->isEnabled(), expected.contains(QLatin1Char('.')));
    QCOMPARE(rig.d().renderFpsLabel->text(), QStringLiteral("Render FPS: <b>25.0</b>"));
}

void TestWindowAtWork::overflowCounters()
{
    Rig rig;
    QLabel* label = rig.d().overflowLabel;
    rig.window->setOverflowEventsSupport(true);
    for (int i = 0; i < 3; ++i)
        rig.window->updateOverflowEvents(true, false, 7);
    QTRY_COMPARE(label->text(), QStringLiteral("Overflow: <b>3</b> / <b>0</b>"));
    QCOMPARE(label->toolTip(), QStringLiteral("Overflow Events:\n3 corrupted frames\n0 lost frames"));
    rig.window->resetEvents();
    rig.window->updateOverflowEvents(false, true, 1);
    QTRY_COMPARE(label->text(), QStringLiteral("Overflow: <b>0</b> / <b>1</b>"));
}

void TestWindowAtWork::enableStates_data()
{
    // Columns: local settings, grab, stop, selector, save.
    QTest::addColumn<QString>("event");
    QTest::addColumn<bool>("external");
    QTest::addColumn<QString>("expected"); // five letters: 1 on, 0 off
    QTest::newRow("constructed") << "constructed" << false << "01100";
    QTest::newRow("attached, idle") << "attached" << false << "11010";
    QTest::newRow("attached, grabbing") << "attachedGrabbing" << false << "00100";
    QTest::newRow("started") << "started" << false << "00100";
    QTest::newRow("started, external") << "started" << true << "11000";
    QTest::newRow("stopped with buffers") << "stopped" << false << "11011";
    QTest::newRow("stopped, external") << "stoppedExternal" << true << "00111";
    QTest::newRow("invalidated") << "invalidated" << false << "11000";
    QTest::newRow("dma(true, true, false)") << "dma110" << false << "00110";
    QTest::newRow("dma(x, y, true)") << "dma111" << false << "00010";
    QTest::newRow("dma(false, false, false)") << "dma000" << false << "11010";
}

void TestWindowAtWork::enableStates()
{
    QFETCH(QString, event);
    QFETCH(bool, external);
    QFETCH(QString, expected);
    std::unique_ptr<Rig> rig;
    std::unique_ptr<Qt4DisplaySceneVisualizer> bare;
    Qt4DisplaySceneVisualizer* window = nullptr;
    if (event == "constructed") {
        bare.reset(Qt4DisplaySceneVisualizer::create(nullptr, 0, 0));
        window = bare.get();
    } else if (event == "attachedGrabbing") {
        rig.reset(new Rig);
        rig->scene->detachVisualizer(rig->window.get());
        rig->scene->startGrabbing(-1); // nothing is pushed: it stays grabbing
        rig->scene->attachVisualizer(rig->window.get());
        window = rig->window.get();
    } else {
        rig.reset(new Rig);
        window = rig->window.get();
        window->enableExternalButtonControl(external);
        if (event == "started") {
            window->notifyGrabbingStarted();
        } else if (event == "stopped" || event == "stoppedExternal") {
            if (external)
                window->applyDmaConnectionToControlButtons(true, true, false);
            // A real single-frame acquisition: its notifications leave one buffer to offer.
            static_cast<ManualFrameSource&>(rig->scene->source()).pushFrame([](FrameBuffer&) {});
            rig->scene->startGrabbing(1);
            QTRY_COMPARE(window->findChild<QSlider*>("frameBufferSlider")->maximum(), 1);
        } else if (event == "invalidated") {
            window->notifyGrabbingStopped();
            rig->pump();
            window->notifyFrameBuffersInvalidated();
        } else if (event.startsWith("dma")) {
            window->applyDmaConnectionToControlButtons(event[3] == '1', event[4] == '1', event[5] == '1');
        }
        rig->pump();
    }
    const auto on = [window](const char* name) { return window->findChild<QWidget*>(name)->isEnabled(); };
    QString actual;
    actual += on("localSettingsButton") ? '1' : '0';
    const bool grab = on("grabInfiniteButton");
    QCOMPARE(on("grabSequenceButton"), grab);
    QCOMPARE(on("grabSingleButton"), grab);
    actual += grab ? '1' : '0';
    actual += on("stopButton") ? '1' : '0';
    const bool selector = on("frameBufferSlider");
    QCOMPARE(on("frameBufferSpinBox"), selector);
    actual += selector ? '1' : '0';
    const bool save = on("saveFrameButton");
    QCOMPARE(on("saveSequenceButton"), save);
    actual += save ? '1' : '0';
    QCOMPARE(actual, expected);
    if (event == "dma000")
        QCOMPARE(window->findChild<QPushButton*>("grabSingleButton")->icon().pixmap(16).toImage(),
                 QPixmap(":/display-qt4/grab_single_no_source.png").toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

void TestWindowAtWork::grabPress_data()
{
    QTest::addColumn<bool>("external");
    QTest::addColumn<bool>("sourcesDetected");
    QTest::addColumn<int>("detectionDisabled");
    QTest::addColumn<bool>("grabSignals");
    QTest::addColumn<QString>("outcome"); // "message", "signal" or "start"
    QTest::newRow("no external control, no source") << false << false << 0 << false << "start";
    QTest::newRow("external, no source") << true << false << 0 << false << "message";
    QTest::newRow("external, no source, signals") << true << false << 0 << true << "message";
    QTest::newRow("external, no source, detection off") << true << false << 1 << false << "start";
    QTest::newRow("external, source") << true << true << 0 << false << "start";
    QTest::newRow("signals") << false << false << 0 << true << "signal";
}

void TestWindowAtWork::grabPress()
{
    QFETCH(bool, external);
    QFETCH(bool, sourcesDetected);
    QFETCH(int, detectionDisabled);
    QFETCH(bool, grabSignals);
    QFETCH(QString, outcome);
    VelmarApplication::setConfigEntry("gui.mainwindow.disable_source_detection", std::int64_t(detectionDisabled));
    Rig rig;
    rig.window->enableExternalButtonControl(external);
    rig.window->enableGrabSignals(grabSignals);
    rig.window->applyDmaConnectionToControlButtons(sourcesDetected, false, false);
    QSignalSpy sequenceSignal(rig.window.get(), &Qt4DisplaySceneVisualizer::grabSequenceButtonClicked);
    rig.recorded.calls.clear();

    std::unique_ptr<ModalAnswer> answer;
    if (outcome == "message")
        answer.reset(new ModalAnswer(QMessageBox::Ok));
    QTest::mouseClick(rig.child<QPushButton>("grabSequenceButton"), Qt::LeftButton);

    QCOMPARE(sequenceSignal.count(), outcome == "signal" ? 1 : 0);
    QCOMPARE(rig.recorded.count(SceneCall::StartGrabbing), outcome == "start" ? 1 : 0);
    if (outcome == "start")
        QCOMPARE(rig.recorded.last(SceneCall::StartGrabbing)->a, std::int64_t(0));
    if (answer) {
        QCOMPARE(answer->title, QStringLiteral("No source detected."));
        QCOMPARE(answer->text,
                 QStringLiteral("Acquisition not started because some sources (camera or simulator) "
                                "were not detected. For disabling source detection use menu entry "
                                "\"Synchronization -> Disable Source Detection\"."));
    }
    // Stop and local settings.
    QSignalSpy stopSignal(rig.window.get(), &Qt4DisplaySceneVisualizer::stopButtonClicked);
    QSignalSpy localSignal(rig.window.get(), &Qt4DisplaySceneVisualizer::localSettingsButtonClicked);
    rig.window->internalStopButtonClicked();
    rig.window->internalLocalSettingsButtonClicked();
    QCOMPARE(stopSignal.count(), grabSignals ? 1 : 0);
    QCOMPARE(rig.recorded.count(SceneCall::StopGrabbing), grabSignals ? 0 : 1);
    QCOMPARE(localSignal.count(), 1);
    rig.scene->stopGrabbing();
    QTRY_VERIFY(!rig.scene->isGrabbing());
    VelmarApplication::setConfigEntry("gui.mainwindow.disable_source_detection", std::int64_t(0));
}

void TestWindowAtWork::bufferBrowsing()
{
    Rig rig;
    auto& source = static_cast<ManualFrameSource&>(rig.scene->source());
    for (int i = 0; i < 5; ++i)
        source.pushFrame([](FrameBuffer&) {});
    QSignalSpy updated(rig.window.get(), &Qt4DisplaySceneVisualizer::grabButtonStatusUpdated);
    rig.window->enableGrabSignals(false);
    rig.window->internalGrabInfiniteButtonClicked();
    QTRY_COMPARE(source.pendingFrames(), 0);
    QTRY_COMPARE(rig.scene->getValidBufferCount(), 5);
    rig.window->internalStopButtonClicked();
    QTRY_VERIFY(!rig.scene->isGrabbing());
    auto* slider = rig.child<QSlider>("frameBufferSlider");
    auto* spinBox = rig.child<QSpinBox>("frameBufferSpinBox");
    QTRY_COMPARE(slider->maximum(), 5);
    QCOMPARE(slider->minimum(), 1);
    QCOMPARE(slider->value(), 5);
    QCOMPARE(spinBox->minimum(), 1);
    QCOMPARE(spinBox->maximum(), 5);
    QCOMPARE(spinBox->value(), 5);
    QCOMPARE(rig.recorded.last(SceneCall::SetBuffer)->a, std::int64_t(5));
    QVERIFY(rig.window->hasValidBuffersOrIsAcquisitionRunning());

    rig.recorded.calls.clear();
    slider->setValue(2);
    QCOMPARE(spinBox->value(), 2);
    QCOMPARE(rig.recorded.count(SceneCall::SetBuffer), 1);
    QCOMPARE(rig.recorded.last(SceneCall::SetBuffer)->a, std::int64_t(2));
    spinBox->setValue(4);
    QCOMPARE(slider->value(), 4);
    QCOMPARE(rig.recorded.count(SceneCall::SetBuffer), 2);
}

void TestWindowAtWork::scrollBarRanges_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("pageStep");
    QTest::addColumn<int>("maximum");
    QTest::newRow("1:1") << 6 << true << 800 << 200;
    QTest::newRow("1:2") << 5 << false << 0 << 0;
    QTest::newRow("2:1") << 7 << true << 400 << 600;
}

void TestWindowAtWork::scrollBarRanges()
{
    QFETCH(int, step);
    QFETCH(bool, shown);
    QFETCH(int, pageStep);
    QFETCH(int, maximum);
    Rig rig({1000, 10, 8, true});
    auto& d = rig.d();
    d.canvasWidth = 800;
    d.canvasHeight = 600;
    auto* bar = rig.child<QScrollBar>("horizontalScrollBar");
    bar->show();
    bar->setValue(0);
    rig.child<QSpinBox>("zoomValueSpinBox")->setValue(step);
    QCOMPARE(d.zoomStep, step);
    d.updateScrollBars(); // 1:1 is the start value: the spin box did not change
    QCOMPARE(!bar->isHidden(), shown);
    if (shown) {
        QCOMPARE(bar->pageStep(), pageStep);
        QCOMPARE(bar->maximum(), maximum);
    } else {
        QCOMPARE(bar->value(), 0);
    }
    // The scene was told the new step.
    QCOMPARE(rig.recorded.last(SceneCall::SetZoomFactor) ? rig.recorded.last(SceneCall::SetZoomFactor)->a : 6,
             std::int64_t(step));
}

void TestWindowAtWork::zoomButtons()
{
    Rig rig;
    auto* in = rig.child<QPushButton>("zoomInButton");
    auto* out = rig.child<QPushButton>("zoomOutButton");
    auto* values = rig.child<QPushButton>("rgbOverlayButton");
    rig.child<QSpinBox>("zoomValueSpinBox")->setValue(11);
    QVERIFY(values->isEnabled());
    QTest::mouseClick(in, Qt::LeftButton);
    QCOMPARE(rig.d().zoomStep, 12);
    QVERIFY(!in->isEnabled());
    QVERIFY(out->isEnabled());
    QVERIFY(values->isEnabled());
    QTest::mouseClick(out, Qt::LeftButton);
    QTest::mouseClick(out, Qt::LeftButton);
    QCOMPARE(rig.d().zoomStep, 10);
    QVERIFY(!values->isEnabled());
    rig.child<QSpinBox>("zoomValueSpinBox")->setValue(0);
    QVERIFY(!out->isEnabled());
    QVERIFY(in->isEnabled());
}

void TestWindowAtWork::wheelZoomAboutPoint_data()
{
    QTest::addColumn<int>("startStep");
    QTest::addColumn<int>("delta");
    QTest::addColumn<QPoint>("mouse");
    QTest::addColumn<bool>("written");
    QTest::addColumn<int>("newStep"); // -1: nothing happens
    QTest::addColumn<QPoint>("offset");
    QTest::newRow("6 to 7 over (100, 50)") << 6 << 120 << QPoint(100, 50) << true << 7 << QPoint(50, 25);
    QTest::newRow("6 to 5 over (100, 50)") << 6 << -120 << QPoint(100, 50) << true << 5 << QPoint(0, 0);
    QTest::newRow("unwritten pixel") << 6 << 120 << QPoint(100, 50) << false << 7 << QPoint(0, 0);
    QTest::newRow("at 12, away") << 12 << 120 << QPoint(10, 10) << true << -1 << QPoint();
    QTest::newRow("at 12, zero delta") << 12 << 0 << QPoint(10, 10) << true << -1 << QPoint();
    QTest::newRow("at 0, toward") << 0 << -120 << QPoint(10, 10) << true << -1 << QPoint();
}

void TestWindowAtWork::wheelZoomAboutPoint()
{
    QFETCH(int, startStep);
    QFETCH(int, delta);
    QFETCH(QPoint, mouse);
    QFETCH(bool, written);
    QFETCH(int, newStep);
    QFETCH(QPoint, offset);
    Rig rig({2000, 2000, 8, true}, true);
    auto buffer = grayBuffer(2000, 2000, 8);
    if (!written)
        buffer->setLastValidPixel(10, 0); // only the first line is in
    rig.grabbingWith(buffer);
    rig.child<QSpinBox>("zoomValueSpinBox")->setValue(startStep);
    rig.show(buffer, {0, 0, 1, 1, startStep});
    auto& d = rig.d();
    d.frameStepSize = startStep < 6 ? 1 << (6 - startStep) : 1;
    d.framePixelSize = startStep > 6 ? 1 << (startStep - 6) : 1;
    rig.recorded.calls.clear();
    QSignalSpy zoomSignal(rig.child<QSpinBox>("zoomValueSpinBox"), SIGNAL(valueChanged(int)));

    // The wheel arrives at the window; the test hands it over in window coordinates.
    auto* canvas = rig.child<QWidget>("canvasWidget");
    const QPointF at = canvas->mapTo(rig.window.get(), mouse);
    QWheelEvent wheel(at, rig.window->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(rig.window.get(), &wheel);

    if (newStep < 0) {
        QCOMPARE(d.zoomStep, startStep);
        QCOMPARE(rig.recorded.count(SceneCall::SetZoomFactorAndOffset), 0);
        return;
    }
    QCOMPARE(d.zoomStep, newStep);
    const SceneCall* call = rig.recorded.last(SceneCall::SetZoomFactorAndOffset);
    QVERIFY(call);
    QCOMPARE(QPoint(int(call->b), int(call->c)), offset);
    QCOMPARE(call->a, std::int64_t(newStep));
    // Neither the spin box nor the scroll bars told the scene on their own.
    QCOMPARE(zoomSignal.count(), 0);
    QCOMPARE(rig.recorded.count(SceneCall::SetZoomFactor), 0);
    QCOMPARE(rig.recorded.count(SceneCall::SetOffset), 0);
    QCOMPARE(rig.child<QSpinBox>("zoomValueSpinBox")->value(), newStep);
    QCOMPARE(rig.child<QScrollBar>("horizontalScrollBar")->value(), offset.x());
}

void TestWindowAtWork::dragCarriesRemainder_data()
{
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<int>("stepSize");
    QTest::addColumn<int>("move");
    QTest::addColumn<int>("scrolled");
    QTest::addColumn<int>("carried"); // canvas pixels kept for the next move
    QTest::newRow("4:1, 7 pixels") << 4 << 1 << 7 << 1 << 3;
    QTest::newRow("4:1, -7 pixels") << 4 << 1 << -7 << -1 << -3;
    QTest::newRow("1:2, 7 pixels") << 1 << 2 << 7 << 14 << 0;
    QTest::newRow("1:1, 5 pixels") << 1 << 1 << 5 << 5 << 0;
}

void TestWindowAtWork::dragCarriesRemainder()
{
    QFETCH(int, pixelSize);
    QFETCH(int, stepSize);
    QFETCH(int, move);
    QFETCH(int, scrolled);
    QFETCH(int, carried);
    Rig rig({4000, 4000, 8, true}, true);
    auto& d = rig.d();
    d.framePixelSize = pixelSize;
    d.frameStepSize = stepSize;
    auto* bar = rig.child<QScrollBar>("horizontalScrollBar");
    bar->show();
    bar->setRange(0, 1000);
    bar->setValue(500);
    auto* canvas = rig.child<QWidget>("canvasWidget");
    QTest::mousePress(rig.window.get(), Qt::LeftButton, Qt::NoModifier, canvas->mapTo(rig.window.get(), QPoint(100, 10)));
    QCOMPARE(d.dragPosition, QPoint(100, 10));
    QMouseEvent moveEvent(QEvent::MouseMove, QPointF(100 + move, 10), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    rig.window->notifyMouseMoveEvent(&moveEvent);
    // Dragging right moves the view left: the offset falls.
    QCOMPARE(bar->value(), 500 - scrolled);
    QCOMPARE(d.dragPosition.x(), 100 + move - carried);
    // A step past the bar's end leaves it where it is.
    bar->setValue(0);
    QMouseEvent back(QEvent::MouseMove, QPointF(d.dragPosition.x() + 4 * pixelSize, 10), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    rig.window->notifyMouseMoveEvent(&back);
    QCOMPARE(bar->value(), 0);
}

void TestWindowAtWork::readout_data()
{
    QTest::addColumn<bool>("gray");
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QPoint>("mouse");
    QTest::addColumn<DisplaySceneFrame::Geometry>("geometry");
    QTest::addColumn<QString>("position");
    QTest::addColumn<QString>("data");
    const DisplaySceneFrame::Geometry unity{100, 0, 1, 1, 6};
    QTest::newRow("gray 12 hex") << true << 12 << true << QPoint(10, 20) << unity << "(110, 20)" << "0x0ff";
    QTest::newRow("gray 12 decimal") << true << 12 << false << QPoint(10, 20) << unity << "(110, 20)" << "255";
    QTest::newRow("gray 10 hex") << true << 10 << true << QPoint(10, 20) << unity << "(110, 20)" << "0x0ff";
    QTest::newRow("gray 8 hex") << true << 8 << true << QPoint(10, 20) << unity << "(110, 20)" << "0xff";
    QTest::newRow("colour 8 hex") << false << 8 << true << QPoint(10, 20) << unity << "(110, 20)" << "(0xff,0x00,0x10)";
    QTest::newRow("colour 8 decimal") << false << 8 << false << QPoint(10, 20) << unity << "(110, 20)" << "(255,0,16)";
    QTest::newRow("4:1 column 3") << true << 8 << true << QPoint(3, 20) << DisplaySceneFrame::Geometry{100, 0, 1, 4, 8}
                                  << "(100, 5)" << "0xff";
    QTest::newRow("1:2 column 5") << true << 8 << true << QPoint(5, 10) << DisplaySceneFrame::Geometry{100, 0, 2, 1, 5}
                                  << "(110, 20)" << "0xff";
    QTest::newRow("not yet written") << true << 8 << true << QPoint(10, 40) << unity << "(110, 40)" << "Invalid";
    QTest::newRow("right of the image") << true << 8 << true << QPoint(150, 20) << unity << "None" << "None";
    QTest::newRow("left of the image") << true << 8 << true << QPoint(-20, 20) << DisplaySceneFrame::Geometry{0, 0, 1, 1, 6}
                                       << "None" << "None";
    QTest::newRow("mouse outside") << true << 8 << true << QPoint(-1, -1) << unity << "None" << "None";
}

void TestWindowAtWork::readout()
{
    QFETCH(bool, gray);
    QFETCH(int, bits);
    QFETCH(bool, hex);
    QFETCH(QPoint, mouse);
    QFETCH(DisplaySceneFrame::Geometry, geometry);
    QFETCH(QString, position);
    QFETCH(QString, data);
    Rig rig({200, 100, bits, gray});
    boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(200, 100, bits, gray));
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x)
            gray ? buffer->setPixelValueGray(x, y, 255) : buffer->setPixelValueColor(x, y, 255, 0, 16);
    buffer->setLastValidPixel(199, 30);
    rig.grabbingWith(buffer);
    rig.window->findChild<QPushButton*>("hexDecButton")->setChecked(hex);
    rig.show(buffer, geometry);
    rig.window->notifyCanvasMousePosition(mouse);
    QCOMPARE(rig.text("positionLabel"), position);
    QCOMPARE(rig.text("dataLabel"), data);
    QCOMPARE(rig.child<QLabel>("dataLabel")->isEnabled(), data != "None" && data != "Invalid");
    // Leaving the canvas empties the readout at once.
    rig.window->notifyCanvasMousePosition(QPoint(-1, -1));
    QCOMPARE(rig.text("dataLabel"), QStringLiteral("None"));
}

QTEST_MAIN(TestWindowAtWork)
#include "tst_window_at_work.moc"
