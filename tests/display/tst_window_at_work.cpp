// The window: its form and tool windows, frames on screen, status indicators, acquisition
// controls, zoom and scrolling, and the pixel readout, driven through its own inputs.

#include "DisplayTestSupport.h"

#include "display/Qt4ZoomSpinBox.h"
#include "display/SceneEventTypes.h"

#include "vexo-core/StopWatch.h"
#include "vexo-core/VelmarApplication.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/ManualFrameSource.h"

#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <vector>

using namespace vexo::core;

Q_DECLARE_METATYPE(DisplaySceneFrame::Geometry)

namespace {

// A window on a scene whose frames the test pushes, every GUI-thread call on the scene
// recorded.
struct Rig
{
    explicit Rig(FrameFormat format = {1000, 800, 12, true}, bool show = false)
        : scene(DisplayScene::create(format, 8))
        , window(Qt4DisplaySceneVisualizer::create(nullptr, 0, 0))
    {
        scene->setStatusPeriod(0);
        scene->setCallObserver([this](const SceneCall& c) {
            if (QThread::currentThread() == qApp->thread())
                calls.push_back(c);
        });
        scene->attachVisualizer(window.get());
        if (show) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        }
    }
    ~Rig() { scene->detachVisualizer(window.get()); }

    auto& d() { return VisualizerInspector::d(window.get()); }
    template <typename T = QWidget>
    T* child(const char* name) { return window->findChild<T*>(name); }
    QString text(const char* name) { return child<QLabel>(name)->text(); }
    void pump() { QCoreApplication::sendPostedEvents(window.get()); }
    int count(SceneCall::Operation op) const
    {
        return int(std::count_if(calls.begin(), calls.end(), [op](const SceneCall& c) { return c.operation == op; }));
    }
    const SceneCall* last(SceneCall::Operation op) const
    {
        const auto found = std::find_if(calls.rbegin(), calls.rend(), [op](const SceneCall& c) { return c.operation == op; });
        return found == calls.rend() ? nullptr : &*found;
    }

    // Shows a frame of `buffer` as if the scene had rendered it with this geometry.
    void show(const boost::shared_ptr<FrameBuffer>& buffer, DisplaySceneFrame::Geometry g, QSize canvas = QSize(64, 32))
    {
        boost::shared_ptr<DisplaySceneFrame> frame(new DisplaySceneFrame(canvas.width(), canvas.height()));
        frame->setFrameBuffer(buffer);
        frame->setGeometry(g);
        frame->setRenderTimeInMicroseconds(123);
        window->notifySceneFrameChanged(frame, 25.0);
        pump();
    }
    // Makes the window believe it is grabbing with one buffer update recorded.
    void grabbingWith(const boost::shared_ptr<FrameBuffer>& buffer)
    {
        window->notifyGrabbingStarted();
        pump();
        window->notifyBufferUpdated(buffer);
    }

    boost::shared_ptr<DisplayScene> scene;
    std::unique_ptr<Qt4DisplaySceneVisualizer> window;
    std::vector<SceneCall> calls;
};

std::unique_ptr<Qt4DisplaySceneVisualizer> makeWindow(int board = 0, int dma = 0, QWidget* parent = nullptr)
{
    return std::unique_ptr<Qt4DisplaySceneVisualizer>(Qt4DisplaySceneVisualizer::create(parent, board, dma));
}

boost::shared_ptr<FrameBuffer> grayBuffer(int w, int h, int bits)
{
    boost::shared_ptr<FrameBuffer> b(new FrameBuffer(w, h, bits, true));
    b->setComplete();
    return b;
}

QImage resourceImage(const QString& name)
{
    return QImage(QStringLiteral(":/display-qt4/%1.png").arg(name)).convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

bool shows(QLabel* label, const QString& name)
{
    return label->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) == resourceImage(name);
}

bool shows(QPushButton* button, const QString& name)
{
    return button->icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) == resourceImage(name);
}

// A stop watch that reports a fixed elapsed time.
struct FixedStopWatch : StopWatch
{
    explicit FixedStopWatch(std::uint64_t elapsed) : elapsed(elapsed) {}
    std::uint64_t elapsedMicroseconds(bool) override { return elapsed; }
    std::uint64_t elapsed;
};

} // namespace

class TestWindowAtWork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("VEXO_CONFIG_FILE", configDir.filePath("config.ini").toUtf8()); }

    void zoomSpinBoxTexts_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("text");
        const char* texts[] = {"1:64", "1:32", "1:16", "1:8", "1:4", "1:2", "1:1", "2:1", "4:1", "8:1", "16:1", "32:1", "64:1"};
        for (int step = 0; step <= 12; ++step)
            QTest::newRow(texts[step]) << step << QString::fromLatin1(texts[step]);
    }

    void zoomSpinBoxTexts()
    {
        QFETCH(int, step);
        QFETCH(QString, text);
        Qt4ZoomSpinBox spinBox;
        QVERIFY(spinBox.findChild<QLineEdit*>()->isReadOnly());
        spinBox.setValue(step);
        QCOMPARE(spinBox.text(), text);
        // The box never leaves the table.
        spinBox.setValue(step + 13);
        QCOMPARE(spinBox.value(), 12);
        spinBox.setValue(-1 - step);
        QCOMPARE(spinBox.value(), 0);
    }

    void ctrlSTogglesHexDecButton()
    {
        auto window = makeWindow();
        window->show();
        QApplication::setActiveWindow(window.get());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        auto* hexDec = window->findChild<QPushButton*>("hexDecButton");
        QSignalSpy saves(window->findChild<QPushButton*>("saveFrameButton"), &QPushButton::clicked);
        auto& d = VisualizerInspector::d(window.get());
        QVERIFY(hexDec->isChecked() && d.hexDisplay);

        // A button's shortcut animates a click: the toggle lands a moment later.
        QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
        QTRY_VERIFY(!hexDec->isChecked());
        QVERIFY(!d.hexDisplay);
        QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
        QTRY_VERIFY(hexDec->isChecked());
        QVERIFY(d.hexDisplay);
        QCOMPARE(saves.count(), 0);
    }

    void closeBehaviour_data()
    {
        QTest::addColumn<bool>("closeEventSignal");
        QTest::newRow("closes") << false;
        QTest::newRow("asks the owner") << true;
    }

    void closeBehaviour()
    {
        QFETCH(bool, closeEventSignal);
        auto window = makeWindow(2, 5);
        window->enableCloseEventSignal(closeEventSignal);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));

        QStringList emitted;
        connect(window.get(), &Qt4DisplaySceneVisualizer::closeRequested, this, [&] { emitted << "closeRequested"; });
        connect(window.get(), &Qt4DisplaySceneVisualizer::closeRequestedWithData, this, [&](int board, int dma) {
            emitted << QStringLiteral("closeRequestedWithData(%1,%2)").arg(board).arg(dma);
        });
        QCOMPARE(window->close(), !closeEventSignal);
        QCOMPARE(window->isVisible(), closeEventSignal);
        QCOMPARE(emitted, (closeEventSignal ? QStringList{"closeRequested", "closeRequestedWithData(2,5)"} : QStringList()));
    }

    // The tool windows belong to the window's parent, so they float on their own and
    // outlive a hidden window; the window releases them when it goes.
    void toolWindows()
    {
        QWidget host;
        auto window = makeWindow(3, 12, &host);
        auto& d = VisualizerInspector::d(window.get());
        QCOMPARE(d.lineProfileDock->windowTitle(), QStringLiteral("Line Profile - Device 3, DMA 12"));
        QCOMPARE(d.lineHistogramDock->windowTitle(), QStringLiteral("Line Histogram - Device 3, DMA 12"));
        for (QDockWidget* dock : {d.lineProfileDock, d.lineHistogramDock})
            QVERIFY(dock->parentWidget() == &host && dock->isFloating() && dock->isHidden());
        QCOMPARE(d.lineProfileDock->widget(), static_cast<QWidget*>(d.lineProfileDialog));
        QCOMPARE(d.lineHistogramDock->widget(), static_cast<QWidget*>(d.lineHistogramDialog));

        const QList<QPointer<QWidget>> released = {d.lineProfileDock, d.lineHistogramDock, d.lineProfileDialog,
                                                   d.lineHistogramDialog};
        window.reset();
        // Released with deleteLater: still there until the event loop runs.
        QVERIFY(released[0] && released[1]);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const QPointer<QWidget>& widget : released)
            QVERIFY(!widget);
    }

    void toolWindowToggling()
    {
        Rig rig;
        QList<int> visible; // each SetVisualizerVisible, in order
        rig.scene->setCallObserver([&](const SceneCall& call) {
            if (call.operation == SceneCall::SetVisualizerVisible)
                visible << int(call.a);
        });
        auto& d = rig.d();
        auto* profileButton = rig.child<QPushButton>("lineProfileButton");
        auto* histogramButton = rig.child<QPushButton>("lineHistogramButton");

        // Window hidden: the scene's visibility follows the tool windows alone.
        QTest::mouseClick(profileButton, Qt::LeftButton);
        QVERIFY(d.lineProfileDock->isVisible());
        QTest::mouseClick(histogramButton, Qt::LeftButton);
        QVERIFY(d.lineHistogramDock->isVisible());
        QTest::mouseClick(profileButton, Qt::LeftButton);
        QVERIFY(!d.lineProfileDock->isVisible());
        QTest::mouseClick(histogramButton, Qt::LeftButton);
        QVERIFY(!d.lineHistogramDock->isVisible());
        QCOMPARE(visible, QList<int>({1, 1, 1, 0})); // on while either tool window is open

        rig.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
        QCOMPARE(visible.last(), 1);
        rig.window->hide();
        QCOMPARE(visible.last(), 0);
    }

    // The event types are registered once per process: a window more takes none of
    // Qt's limited supply.
    void secondWindowReusesEventTypes()
    {
        auto first = makeWindow();
        const QEvent::Type firstType = SceneEventTypes::sceneFrameChanged, lastType = SceneEventTypes::frameBuffersAdded;
        auto second = makeWindow(0, 1);
        QCOMPARE(SceneEventTypes::sceneFrameChanged, firstType);
        QCOMPARE(SceneEventTypes::frameBuffersAdded, lastType);
        // Qt hands out user types downwards from the top: the next free one is right
        // below the seven of the first window.
        QCOMPARE(int(lastType), int(firstType) - 6);
        QCOMPARE(QEvent::registerEventType(), int(lastType) - 1);
    }

    void frameHandOverShowsAndFrees()
    {
        Rig rig;
        auto buffer = grayBuffer(40, 30, 12);
        const auto shown = [&rig] { return !VisualizerInspector::canvasPixmap(rig.window.get()).isNull(); };
        int freed = 0;
        rig.scene->setCallObserver([&](const SceneCall& c) { freed += c.operation == SceneCall::FreeSceneFrame; });

        // Grabbing, but no buffer update yet: the frame goes back unseen.
        rig.window->notifyGrabbingStarted();
        rig.pump();
        rig.show(buffer, {});
        QCOMPARE(freed, 1);
        QCOMPARE(rig.d().renderedFrames, std::uint64_t(0));
        QVERIFY(!shown());

        // After the first buffer update frames are shown, and every one is handed back.
        rig.window->notifyBufferUpdated(buffer);
        rig.show(buffer, {3, 4, 1, 1, 6});
        QCOMPARE(freed, 2);
        QCOMPARE(rig.d().renderedFrames, std::uint64_t(1));
        QVERIFY(shown());
        QCOMPARE(rig.d().frameMinX, 3);
        QCOMPARE(rig.d().currentFrameBuffer.lock(), buffer);
        QCOMPARE(rig.text("dataHeaderLabel"), QStringLiteral("Data (Gray): "));
        QCOMPARE(rig.d().renderTimeLabel->text(), QStringLiteral("Render Time (microseconds): <b>123</b>"));

        rig.show(boost::shared_ptr<FrameBuffer>(new FrameBuffer(40, 30, 8, false)), {});
        QCOMPARE(rig.text("dataHeaderLabel"), QStringLiteral("Data (R,G,B): "));
        QCOMPARE(freed, 3);

        // Grabbing started clears the canvas and the render time.
        rig.window->notifyGrabbingStarted();
        rig.pump();
        QVERIFY(!shown());
        QCOMPARE(rig.d().renderTimeLabel->text(), QStringLiteral("Render Time (microseconds): <b>-</b>"));

        // Idle without valid buffers: nothing is shown.
        rig.window->notifyGrabbingStopped();
        rig.pump();
        rig.show(buffer, {});
        QVERIFY(!shown());
        QCOMPARE(freed, 4);
    }

    void pixelValueText_data()
    {
        QTest::addColumn<int>("zoom");
        QTest::addColumn<bool>("showValues");
        QTest::addColumn<bool>("expectText");
        QTest::newRow("16:1, switched on") << 10 << true << false;
        QTest::newRow("32:1, switched on") << 11 << true << true;
        QTest::newRow("64:1, switched on") << 12 << true << true;
        QTest::newRow("64:1, switched off") << 12 << false << false;
    }

    void pixelValueText()
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
        rig.child<QPushButton>("rgbOverlayButton")->setChecked(showValues);
        const int cell = 1 << (zoom - 6);
        rig.show(buffer, {0, 0, 1, cell, zoom}, QSize(2 * cell, cell));
        // The canvas is black; any text changes the picture.
        const QImage shown = VisualizerInspector::canvasPixmap(rig.window.get()).toImage().convertToFormat(QImage::Format_RGB32);
        QImage plain(shown.size(), QImage::Format_RGB32);
        plain.fill(Qt::black);
        QCOMPARE(shown != plain, expectText);
        // Text colour: the black canvas with bit 6 of each channel flipped, 0x404040; text
        // smoothing only blends it with the black below.
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb p = shown.pixel(x, y);
                QVERIFY(qRed(p) <= 0x40 && qRed(p) == qGreen(p) && qGreen(p) == qBlue(p));
            }
    }

    void timedInterruptDelay_data()
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

    void timedInterruptDelay()
    {
        QFETCH(qulonglong, interval);
        QFETCH(qulonglong, elapsed);
        QFETCH(int, waitMs);
        Rig rig;
        rig.calls.clear();
        rig.window->requestTimedInterrupt(boost::shared_ptr<StopWatch>(new FixedStopWatch(elapsed)), interval);
        rig.pump();
        QTimer* timer = rig.d().renderInterruptTimer;
        QCOMPARE(rig.count(SceneCall::TimerInterrupt), waitMs < 0 ? 1 : 0);
        QCOMPARE(timer->isActive(), waitMs >= 0);
        if (waitMs < 0)
            return;
        QCOMPARE(timer->interval(), waitMs);
        // A second request replaces the first.
        rig.window->requestTimedInterrupt(boost::shared_ptr<StopWatch>(new FixedStopWatch(0)), 7000);
        rig.pump();
        QCOMPARE(timer->interval(), 8);
        QTRY_COMPARE(rig.count(SceneCall::TimerInterrupt), 1);
    }

    void fillLevel_data()
    {
        QTest::addColumn<bool>("overflow");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("percent");
        QTest::addColumn<QString>("picture"); // empty: hidden
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("not reported") << false << 0 << -2 << QString() << "Buffer Filllevel";
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

    void fillLevel()
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
        QVERIFY(picture.isEmpty() || shows(fill, picture));
        QCOMPARE(fill->toolTip(), toolTip);
        // The lamps follow their own flags through the event.
        QCOMPARE(rig.d().fvalLabel->toolTip(), QStringLiteral("FVAL ON"));
        QCOMPARE(rig.d().lvalLabel->toolTip(), QStringLiteral("LVAL OFF"));
        QVERIFY(shows(rig.d().exsyncLabel, "exsync_on"));
    }

    void clockCombinesSources()
    {
        Rig rig;
        QLabel* lamp = rig.d().clockLabel;
        // Attaching told the window that the scene's source is there.
        QVERIFY(rig.d().sourcesConnected);
        QVERIFY(shows(lamp, "clock_on"));
        rig.window->enableCameraClockSignal(true);
        QSignalSpy changed(rig.window.get(), &Qt4DisplaySceneVisualizer::cameraClockChanged);
        rig.window->notifySourcesConnected(false);
        QVERIFY(shows(lamp, "clock_off"));
        const auto status = [&](bool clock) {
            rig.window->notifyCameraStatusUpdate(clock, false, false, false, false, false, 0, -2);
            rig.pump();
        };
        status(true);
        status(true); // same state again: no second signal
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(2).toBool(), true);
        QVERIFY(rig.window->isCameraClockOn());
        // A running camera clock keeps the lamp on whatever the sources say.
        rig.window->notifySourcesConnected(false);
        QVERIFY(shows(lamp, "clock_on"));
        status(false);
        QCOMPARE(changed.count(), 2);
        QVERIFY(shows(lamp, "clock_off"));
        QCOMPARE(lamp->toolTip(), QStringLiteral("NO Sources Detected"));
        // Sources connected keep the combined state on even without a clock.
        rig.window->notifySourcesConnected(true);
        QVERIFY(shows(lamp, "clock_on"));
        status(false);
        QCOMPARE(changed.count(), 3);
        QVERIFY(rig.window->isCameraClockOn());
        QCOMPARE(lamp->toolTip(), QStringLiteral("Sources Detected"));
        // Without the signal switched on the state still changes.
        rig.window->enableCameraClockSignal(false);
        rig.window->notifySourcesConnected(false);
        status(false);
        QCOMPARE(changed.count(), 3);
        QVERIFY(!rig.window->isCameraClockOn());
    }

    // The labels on the frame shown, filled in together: its transfer, and the rates of
    // the acquisition from the buffer updates since grabbing started.
    void frameStatus_data()
    {
        QTest::addColumn<qulonglong>("length");
        QTest::addColumn<int>("sceneWidth");
        QTest::addColumn<QString>("dma");
        QTest::addColumn<QString>("height"); // the image height the transfer amounts to
        QTest::addColumn<QList<qlonglong>>("indices"); // frame index and time stamp of each update
        QTest::addColumn<QList<qulonglong>>("stamps");
        QTest::addColumn<QString>("rate");
        using I = QList<qlonglong>;
        using S = QList<qulonglong>;
        QTest::newRow("whole lines, three updates")
            << 1048576ull << 1024 << "0x100000 Bytes" << "1024" << I{10, 11, 13} << S{0, 10000, 30000} << "100.00";
        QTest::newRow("partial line, one update") << 1000000ull << 1024 << "0xf4240 Bytes" << "976.56" << I{10} << S{0} << "-";
        QTest::newRow("4096 bytes, equal stamps") << 4096ull << 1024 << "0x1000 Bytes" << "4" << I{10, 11} << S{500, 500} << "-";
        QTest::newRow("no width to divide by, no frames between")
            << 4096ull << 0 << "0x1000 Bytes" << "-" << I{7, 7} << S{0, 100} << "-";
        // 70 updates wrap the ring of 64: update 69 (slot 5) against update 6 (slot 6),
        // 126 frames in 472500 us. The stamps grow quadratically, so any other pair of
        // entries gives another rate.
        I indices;
        S stamps;
        for (int i = 0; i < 70; ++i) {
            indices << 2 * i;
            stamps << qulonglong(100 * i * i);
        }
        QTest::newRow("ring wrapped") << 4096ull << 1024 << "0x1000 Bytes" << "4" << indices << stamps << "266.67";
    }

    void frameStatus()
    {
        QFETCH(qulonglong, length);
        QFETCH(int, sceneWidth);
        QFETCH(QString, dma);
        QFETCH(QString, height);
        QFETCH(QList<qlonglong>, indices);
        QFETCH(QList<qulonglong>, stamps);
        QFETCH(QString, rate);
        Rig rig({sceneWidth, 16, 8, true});
        auto buffer = grayBuffer(8, 8, 8);
        rig.window->notifyGrabbingStarted();
        rig.pump();
        for (int i = 0; i < indices.size(); ++i) {
            buffer->setFrameIndex(indices[i]);
            buffer->setTimestamp(stamps[i]);
            rig.window->notifyBufferUpdated(buffer);
        }
        buffer->setFrameIndex(-3); // the rates come from what the updates recorded
        buffer->setTransferLength(length);
        buffer->setTag(255);
        buffer->setFlags(5);
        rig.show(buffer, {});
        QCOMPARE(rig.text("frameIndexLabel"), QStringLiteral("-3"));
        QCOMPARE(rig.text("frameTagLabel"), QStringLiteral("255 (0x0000ff)"));
        QCOMPARE(rig.text("frameFlagsLabel"), QStringLiteral("0x05"));
        QCOMPARE(rig.text("dmaTransferLabel"), dma);
        QVERIFY(rig.child<QLabel>("dmaTransferLabel")->isEnabled());
        const QString tip = rig.child<QLabel>("dmaTransferLabel")->toolTip();
        QVERIFY2(tip.contains(QStringLiteral("<b>Current Image Height:</b></td><td style='white-space:nowrap'>%1 Pixel</td>").arg(height)), qPrintable(tip));
        QVERIFY2(tip.contains(QStringLiteral("%1 (0x%2) Bytes").arg(length).arg(length, 0, 16)), qPrintable(tip));
        QCOMPARE(rig.d().acquisitionFpsLabel->text(), QStringLiteral("Acquisition FPS: <b>%1</b>").arg(rate));
        QCOMPARE(rig.d().acquisitionFpsLabel->isEnabled(), rate != "-");
        QCOMPARE(rig.d().renderFpsLabel->text(), QStringLiteral("Render FPS: <b>25.0</b>"));

        // Once the buffer is gone, the labels fall back to "-".
        rig.d().currentFrameBuffer.reset();
        rig.window->notifyGrabbingStopped();
        rig.pump();
        QCOMPARE(rig.text("frameTagLabel"), QStringLiteral("-"));
        QVERIFY(!rig.child<QLabel>("frameTagLabel")->isEnabled());
        QCOMPARE(rig.child<QLabel>("dmaTransferLabel")->toolTip(), QString());
    }

    void overflowCounters()
    {
        Rig rig;
        QLabel* label = rig.d().overflowLabel;
        // No numbers until the host says it reports overflows.
        rig.window->updateOverflowEvents(true, true, 7);
        QTRY_COMPARE(label->text(), QStringLiteral("Overflow: <b>-</b> / <b>-</b>"));
        QCOMPARE(label->toolTip(), QStringLiteral("Overflow Events:\n- corrupted frames\n- lost frames"));
        rig.window->setOverflowEventsSupport(true);
        rig.window->resetEvents();
        for (int i = 0; i < 3; ++i)
            rig.window->updateOverflowEvents(true, false, 7);
        QTRY_COMPARE(label->text(), QStringLiteral("Overflow: <b>3</b> / <b>0</b>"));
        QCOMPARE(label->toolTip(), QStringLiteral("Overflow Events:\n3 corrupted frames\n0 lost frames"));
        rig.window->resetEvents();
        rig.window->updateOverflowEvents(false, true, 1);
        QTRY_COMPARE(label->text(), QStringLiteral("Overflow: <b>0</b> / <b>1</b>"));
    }

    void enableStates_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<bool>("external");
        // Local settings, grab, stop, selector, save (1 on, 0 off); then the grab status
        // updates the event caused.
        QTest::addColumn<QString>("expected");
        QTest::newRow("constructed") << "constructed" << false << "01100 0";
        QTest::newRow("attached, idle") << "attached" << false << "11010 1";
        QTest::newRow("attached, grabbing") << "attachedGrabbing" << false << "00100 1";
        QTest::newRow("started") << "started" << false << "00100 1";
        QTest::newRow("started, external") << "started" << true << "11000 1";
        QTest::newRow("stopped with buffers") << "stopped" << false << "11011 2";
        QTest::newRow("stopped, external") << "stopped" << true << "00111 2";
        QTest::newRow("invalidated") << "invalidated" << false << "11000 1";
        QTest::newRow("dma(true, true, false)") << "dma110" << false << "00110 0";
        QTest::newRow("dma(x, y, true)") << "dma111" << false << "00010 0";
        QTest::newRow("dma(false, false, false)") << "dma000" << false << "11010 0";
    }

    void enableStates()
    {
        QFETCH(QString, event);
        QFETCH(bool, external);
        QFETCH(QString, expected);
        std::unique_ptr<Rig> rig;
        std::unique_ptr<Qt4DisplaySceneVisualizer> bare;
        if (event == "constructed")
            bare = makeWindow();
        else
            rig.reset(new Rig);
        Qt4DisplaySceneVisualizer* window = bare ? bare.get() : rig->window.get();
        window->enableExternalButtonControl(external);
        window->enableGrabSignals(true); // changes no state of its own: only adds the updates
        QSignalSpy updates(window, &Qt4DisplaySceneVisualizer::grabButtonStatusUpdated);
        if (event.startsWith("attached")) {
            if (event == "attachedGrabbing") {
                rig->scene->startGrabbing(-1); // nothing is pushed: it stays grabbing
                QTRY_COMPARE(updates.count(), 1); // its start, from the acquisition thread, is in
            }
            rig->scene->detachVisualizer(window);
            updates.clear();
            rig->scene->attachVisualizer(window);
        } else if (event == "started") {
            window->notifyGrabbingStarted();
        } else if (event == "stopped") {
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
        if (rig)
            rig->pump();

        const auto on = [window](const char* name) { return window->findChild<QWidget*>(name)->isEnabled(); };
        // The buttons of a group always agree.
        QCOMPARE(on("grabSequenceButton"), on("grabInfiniteButton"));
        QCOMPARE(on("grabSingleButton"), on("grabInfiniteButton"));
        QCOMPARE(on("frameBufferSpinBox"), on("frameBufferSlider"));
        QCOMPARE(on("saveSequenceButton"), on("saveFrameButton"));
        QString actual;
        for (const char* name : {"localSettingsButton", "grabInfiniteButton", "stopButton", "frameBufferSlider", "saveFrameButton"})
            actual += on(name) ? '1' : '0';
        QCOMPARE(actual + ' ' + QString::number(updates.count()), expected);
        if (event == "dma000")
            QVERIFY(shows(window->findChild<QPushButton*>("grabSingleButton"), "grab_single_no_source"));
    }

    void grabPress_data()
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

    void grabPress()
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
        rig.calls.clear();

        DialogAnswerer answerer;
        answerer.buttons << QMessageBox::Ok;
        QTest::mouseClick(rig.child<QPushButton>("grabSequenceButton"), Qt::LeftButton);
        QCOMPARE(sequenceSignal.count(), outcome == "signal" ? 1 : 0);
        QCOMPARE(rig.count(SceneCall::StartGrabbing), outcome == "start" ? 1 : 0);
        if (outcome == "start")
            QCOMPARE(rig.last(SceneCall::StartGrabbing)->a, std::int64_t(0));
        QStringList boxes;
        if (outcome == "message")
            boxes << QStringLiteral("warning \"No source detected.\" \"Acquisition not started because some sources "
                                    "(camera or simulator) were not detected. For disabling source detection use menu "
                                    "entry \"Synchronization -> Disable Source Detection\".\" [OK] default OK");
        QCOMPARE(answerer.transcript, boxes);

        // Stop and local settings.
        QSignalSpy stopSignal(rig.window.get(), &Qt4DisplaySceneVisualizer::stopButtonClicked);
        QSignalSpy localSignal(rig.window.get(), &Qt4DisplaySceneVisualizer::localSettingsButtonClicked);
        rig.window->internalStopButtonClicked();
        rig.window->internalLocalSettingsButtonClicked();
        QCOMPARE(stopSignal.count(), grabSignals ? 1 : 0);
        QCOMPARE(rig.count(SceneCall::StopGrabbing), grabSignals ? 0 : 1);
        QCOMPARE(localSignal.count(), 1);
        rig.scene->stopGrabbing();
        QTRY_VERIFY(!rig.scene->isGrabbing());
        VelmarApplication::setConfigEntry("gui.mainwindow.disable_source_detection", std::int64_t(0));
    }

    void bufferBrowsing()
    {
        Rig rig;
        auto& source = static_cast<ManualFrameSource&>(rig.scene->source());
        for (int i = 0; i < 5; ++i)
            source.pushFrame([](FrameBuffer&) {});
        rig.window->internalGrabInfiniteButtonClicked();
        QTRY_COMPARE(source.pendingFrames(), 0);
        QTRY_COMPARE(rig.scene->getValidBufferCount(), 5);
        rig.window->internalStopButtonClicked();
        QTRY_VERIFY(!rig.scene->isGrabbing());
        auto* slider = rig.child<QSlider>("frameBufferSlider");
        auto* spinBox = rig.child<QSpinBox>("frameBufferSpinBox");
        QTRY_COMPARE(slider->maximum(), 5);
        QCOMPARE(QList<int>({slider->minimum(), slider->value(), spinBox->minimum(), spinBox->maximum(), spinBox->value()}),
                 QList<int>({1, 5, 1, 5, 5}));
        QCOMPARE(rig.last(SceneCall::SetBuffer)->a, std::int64_t(5));
        QVERIFY(rig.window->hasValidBuffersOrIsAcquisitionRunning());

        // The two selectors follow each other, and the scene hears of each choice once.
        rig.calls.clear();
        slider->setValue(2);
        QCOMPARE(spinBox->value(), 2);
        QCOMPARE(rig.count(SceneCall::SetBuffer), 1);
        QCOMPARE(rig.last(SceneCall::SetBuffer)->a, std::int64_t(2));
        spinBox->setValue(4);
        QCOMPARE(slider->value(), 4);
        QCOMPARE(rig.count(SceneCall::SetBuffer), 2);
    }

    // An image 1000 pixels wide on a canvas of 800: the scroll bar at each zoom step, and
    // the zoom buttons at the ends of the range.
    void zoomSteps_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("bar");     // "page step/maximum", or "hidden"
        QTest::addColumn<QString>("buttons"); // zoom in, zoom out, pixel values: 1 enabled
        QTest::newRow("1:64") << 0 << "hidden" << "100";
        QTest::newRow("1:2") << 5 << "hidden" << "110";
        QTest::newRow("1:1") << 6 << "800/200" << "110";
        QTest::newRow("2:1") << 7 << "400/600" << "110";
        QTest::newRow("16:1") << 10 << "50/950" << "110";
        QTest::newRow("32:1") << 11 << "25/975" << "111";
        QTest::newRow("64:1, the page truncated") << 12 << "12/988" << "011";
    }

    void zoomSteps()
    {
        QFETCH(int, step);
        QFETCH(QString, bar);
        QFETCH(QString, buttons);
        Rig rig({1000, 10, 8, true});
        auto& d = rig.d();
        d.canvasWidth = 800;
        d.canvasHeight = 600;
        auto* horizontal = rig.child<QScrollBar>("horizontalScrollBar");
        horizontal->show();
        horizontal->setValue(0);
        rig.child<QSpinBox>("zoomValueSpinBox")->setValue(step);
        QCOMPARE(d.zoomStep, step);
        d.updateScrollBars(); // 1:1 is the start value: the spin box did not change
        QCOMPARE(horizontal->isHidden() ? QStringLiteral("hidden")
                                        : QStringLiteral("%1/%2").arg(horizontal->pageStep()).arg(horizontal->maximum()),
                 bar);
        QCOMPARE(horizontal->value(), 0);
        // The scene was told the new step.
        QCOMPARE(rig.last(SceneCall::SetZoomFactor) ? rig.last(SceneCall::SetZoomFactor)->a : 6, std::int64_t(step));

        auto* in = rig.child<QPushButton>("zoomInButton");
        auto* out = rig.child<QPushButton>("zoomOutButton");
        QString enabled;
        for (QPushButton* button : {in, out, rig.child<QPushButton>("rgbOverlayButton")})
            enabled += button->isEnabled() ? '1' : '0';
        QCOMPARE(enabled, buttons);
        // A button press moves one step.
        const bool up = in->isEnabled();
        QTest::mouseClick(up ? in : out, Qt::LeftButton);
        QCOMPARE(d.zoomStep, up ? step + 1 : step - 1);
    }

    void wheelZoomAboutPoint_data()
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

    void wheelZoomAboutPoint()
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
        rig.calls.clear();
        QSignalSpy zoomSignal(rig.child<QSpinBox>("zoomValueSpinBox"), SIGNAL(valueChanged(int)));

        // The wheel arrives at the window; the test hands it over in window coordinates.
        const QPointF at = rig.child("canvasWidget")->mapTo(rig.window.get(), mouse);
        QWheelEvent wheel(at, rig.window->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(rig.window.get(), &wheel);

        if (newStep < 0) {
            QCOMPARE(d.zoomStep, startStep);
            QCOMPARE(rig.count(SceneCall::SetZoomFactorAndOffset), 0);
            return;
        }
        QCOMPARE(d.zoomStep, newStep);
        const SceneCall* call = rig.last(SceneCall::SetZoomFactorAndOffset);
        QVERIFY(call);
        QCOMPARE(QPoint(int(call->b), int(call->c)), offset);
        QCOMPARE(call->a, std::int64_t(newStep));
        // Neither the spin box nor the scroll bars told the scene on their own.
        QCOMPARE(zoomSignal.count(), 0);
        QCOMPARE(rig.count(SceneCall::SetZoomFactor), 0);
        QCOMPARE(rig.count(SceneCall::SetOffset), 0);
        QCOMPARE(rig.child<QSpinBox>("zoomValueSpinBox")->value(), newStep);
        QCOMPARE(rig.child<QScrollBar>("horizontalScrollBar")->value(), offset.x());
    }

    void dragCarriesRemainder_data()
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

    void dragCarriesRemainder()
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
        QTest::mousePress(rig.window.get(), Qt::LeftButton, Qt::NoModifier,
                          rig.child("canvasWidget")->mapTo(rig.window.get(), QPoint(100, 10)));
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

    void readout_data()
    {
        QTest::addColumn<bool>("gray");
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QPoint>("mouse");
        QTest::addColumn<DisplaySceneFrame::Geometry>("geometry");
        QTest::addColumn<QString>("position");
        QTest::addColumn<QString>("data");
        const DisplaySceneFrame::Geometry unity{100, 0, 1, 1, 6}, origin{0, 0, 1, 1, 6};
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
        QTest::newRow("left of the image") << true << 8 << true << QPoint(-20, 20) << origin << "None" << "None";
        QTest::newRow("mouse outside") << true << 8 << true << QPoint(-1, -1) << unity << "None" << "None";
    }

    void readout()
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
        rig.child<QPushButton>("hexDecButton")->setChecked(hex);
        rig.show(buffer, geometry);
        rig.window->notifyCanvasMousePosition(mouse);
        QCOMPARE(rig.text("positionLabel"), position);
        QCOMPARE(rig.text("dataLabel"), data);
        QCOMPARE(rig.child<QLabel>("dataLabel")->isEnabled(), data != "None" && data != "Invalid");
        // Leaving the canvas empties the readout at once.
        rig.window->notifyCanvasMousePosition(QPoint(-1, -1));
        QCOMPARE(rig.text("dataLabel"), QStringLiteral("None"));
    }

private:
    QTemporaryDir configDir; // the configuration file of the whole run
};

QTEST_MAIN(TestWindowAtWork)
#include "tst_window_at_work.moc"
