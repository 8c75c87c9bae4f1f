// The window: its tool windows, frames on screen, status indicators, acquisition controls,
// zoom and scrolling, and the pixel readout, driven through its own inputs; and the zoom
// step and pixel value types they rest on.

#include "DisplayTestSupport.h"

#include "display/SceneEventTypes.h"
#include "frame/PixelValue.h"

#include "vexo-core/StopWatch.h"
#include "vexo-core/VelmarApplication.h"
#include "vexo-lib-display/SceneRenderer.h"
#include "vexo-lib-display/ZoomStep.h"

#include <QDockWidget>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>

using namespace vexo::core;
using Geometry = DisplaySceneFrame::Geometry;
Q_DECLARE_METATYPE(Geometry)

namespace {

// Filled: every pixel 255 (gray) or (255, 0, 16).
boost::shared_ptr<FrameBuffer> buffer(int w, int h, int bits, bool gray = true, bool filled = false)
{
    boost::shared_ptr<FrameBuffer> b(new FrameBuffer(w, h, bits, gray));
    for (int y = 0; filled && y < h; ++y)
        for (int x = 0; x < w; ++x)
            gray ? b->setPixelValueGray(x, y, 255) : b->setPixelValueColor(x, y, 255, 0, 16);
    b->setComplete();
    return b;
}

bool sameImage(const QPixmap& shown, const QString& name)
{
    const QImage::Format f = QImage::Format_ARGB32_Premultiplied;
    return shown.toImage().convertToFormat(f) == QImage(QStringLiteral(":/display-qt4/%1.png").arg(name)).convertToFormat(f);
}
bool shows(QLabel* label, const QString& name) { return sameImage(label->pixmap(Qt::ReturnByValue), name); }

struct FixedStopWatch : StopWatch
{
    explicit FixedStopWatch(std::uint64_t elapsed) : elapsed(elapsed) {}
    std::uint64_t elapsedMicroseconds(bool) override { return elapsed; }
    std::uint64_t elapsed;
};

// "1" or "0" for each widget's enabled state, in order; "|" puts a space between groups.
QString enabled(QWidget* window, std::initializer_list<const char*> names)
{
    QString states;
    for (const char* name : names)
        states += *name == '|' ? ' ' : window->findChild<QWidget*>(name)->isEnabled() ? '1' : '0';
    return states;
}

} // namespace

class TestWindowAtWork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("VEXO_CONFIG_FILE", configDir.filePath("config.ini").toUtf8()); }

    // The tool windows belong to the window's parent, so they float on their own and
    // outlive a hidden window; the scene is visible while the window or either tool is.
    void toolWindows()
    {
        QWidget host;
        auto scene = DisplayScene::create({64, 32, 8, true});
        std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(&host, 3, 12));
        // The event types are registered once per process, not per window; Qt hands them out downwards.
        const int lastType = SceneEventTypes::frameBuffersAdded;
        std::unique_ptr<Qt4DisplaySceneVisualizer> second(Qt4DisplaySceneVisualizer::create(nullptr, 0, 1));
        QCOMPARE(QList<int>({SceneEventTypes::frameBuffersAdded, QEvent::registerEventType()}),
                 QList<int>({SceneEventTypes::sceneFrameChanged - 6, lastType - 1}));

        auto& d = VisualizerInspector::d(window.get());
        QCOMPARE(d.lineProfileDock->windowTitle() + '|' + d.lineHistogramDock->windowTitle(),
                 QStringLiteral("Line Profile - Device 3, DMA 12|Line Histogram - Device 3, DMA 12"));
        for (QDockWidget* dock : {d.lineProfileDock, d.lineHistogramDock})
            QVERIFY(dock->parentWidget() == &host && dock->isFloating() && dock->isHidden());

        scene->attachVisualizer(window.get());
        QList<int> visible;
        scene->setCallObserver([&](const SceneCall& c) {
            if (c.operation == SceneCall::SetVisualizerVisible)
                visible << int(c.a);
        });
        for (const char* button : {"lineProfileButton", "lineHistogramButton", "lineProfileButton", "lineHistogramButton"})
            QTest::mouseClick(window->findChild<QPushButton*>(button), Qt::LeftButton);
        host.show();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(visible, QList<int>({1, 1, 1, 0, 1})); // 0: both tools hidden again, the window not yet shown

        // Closing: either the window closes, or it asks its owner and stays.
        QSignalSpy asked(window.get(), &Qt4DisplaySceneVisualizer::closeRequested);
        QSignalSpy askedWithData(window.get(), &Qt4DisplaySceneVisualizer::closeRequestedWithData);
        window->enableCloseEventSignal(true);
        QVERIFY(!window->close() && window->isVisible());
        window->enableCloseEventSignal(false);
        QVERIFY(window->close() && !window->isVisible());
        QVERIFY(asked.count() == 1 && askedWithData.count() == 1);
        QCOMPARE(askedWithData.first(), QVariantList({3, 12}));
        QCOMPARE(visible.last(), 0);

        scene->detachVisualizer(window.get());
        const QList<QPointer<QWidget>> released = {d.lineProfileDock, d.lineHistogramDock, d.lineProfileDialog,
                                                   d.lineHistogramDialog};
        window.reset();
        QVERIFY(released[0] && released[1]); // deleteLater: there until the event loop runs
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(released.count(nullptr), 4);
    }

    void frameHandOverShowsAndFrees()
    {
        WindowRig rig;
        auto gray = buffer(40, 30, 12);
        int freed = 0;
        rig.scene->setCallObserver([&](const SceneCall& c) { freed += c.operation == SceneCall::FreeSceneFrame; });
        // Frames handed back, frames rendered, whether the canvas shows one.
        const auto state = [&] {
            const bool shown = !VisualizerInspector::canvasPixmap(rig.window.get()).isNull();
            return QStringLiteral("%1 %2 %3").arg(freed).arg(rig.d().renderedFrames).arg(shown);
        };
        // Grabbing, but no buffer update yet: the frame goes back unseen.
        rig.started();
        rig.show(gray, {});
        QCOMPARE(state(), QStringLiteral("1 0 0"));
        rig.window->notifyBufferUpdated(gray);
        rig.show(gray, {3, 4, 1, 1, 6});
        QCOMPARE(state(), QStringLiteral("2 1 1"));
        QCOMPARE(rig.text("dataHeaderLabel") + rig.d().renderTimeLabel->text(),
                 QStringLiteral("Data (Gray): Render Time (microseconds): <b>123</b>"));
        rig.show(buffer(40, 30, 8, false), {});
        QCOMPARE(rig.text("dataHeaderLabel") + QString::number(freed), QStringLiteral("Data (R,G,B): 3"));
        // Grabbing started clears the canvas and the render time.
        rig.started();
        QCOMPARE(state() + rig.d().renderTimeLabel->text(), QStringLiteral("3 0 0Render Time (microseconds): <b>-</b>"));
        // Idle without valid buffers: nothing is shown.
        rig.stopped();
        rig.show(gray, {});
        QCOMPARE(state(), QStringLiteral("4 0 0"));
    }

    void pixelValueText_data()
    {
        columns<int, bool, bool>("zoom", "showValues", "expectText");
        QTest::newRow("16:1, switched on") << 10 << true << false;
        QTest::newRow("32:1, switched on") << 11 << true << true;
        QTest::newRow("64:1, switched off") << 12 << false << false;
    }

    void pixelValueText()
    {
        const auto [zoom, showValues, expectText] = fetch<int, bool, bool>("zoom", "showValues", "expectText");
        WindowRig rig;
        auto gray = buffer(4, 4, 12, true, true);
        rig.grabbingWith(gray);
        rig.child<QPushButton>("rgbOverlayButton")->setChecked(showValues);
        rig.show(gray, SceneRenderer::geometryFor(zoom, 0, 0), QSize(2, 1) * ZoomStep(zoom).pixelSize());
        const QImage shown = VisualizerInspector::canvasPixmap(rig.window.get()).toImage().convertToFormat(QImage::Format_RGB32);
        // Text colour: black with bit 6 of each channel flipped; smoothing only blends it
        // with the black below. Any text changes the black canvas.
        int brightest = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                brightest = std::max(brightest, qRed(shown.pixel(x, y)));
        QVERIFY(shown.allGray() && brightest <= 0x40);
        QCOMPARE(brightest > 0, expectText);
    }

    void timedInterruptDelay_data()
    {
        // waitMs -1: at once
        columns<qulonglong, qulonglong, int>("interval", "elapsed", "waitMs");
        QTest::newRow("passed") << 1000ull << 1000ull << -1;
        QTest::newRow("999 left") << 1999ull << 1000ull << 1;
        QTest::newRow("1000 left") << 2000ull << 1000ull << 2;
    }

    void timedInterruptDelay()
    {
        const auto [interval, elapsed, waitMs] = fetch<qulonglong, qulonglong, int>("interval", "elapsed", "waitMs");
        WindowRig rig;
        rig.window->requestTimedInterrupt(boost::shared_ptr<StopWatch>(new FixedStopWatch(elapsed)), interval);
        rig.pump();
        QTimer* timer = rig.d().renderInterruptTimer;
        QCOMPARE(QList<int>({rig.count(SceneCall::TimerInterrupt), timer->isActive() ? timer->interval() : -1}),
                 QList<int>({waitMs < 0, waitMs}));
        if (waitMs < 0)
            return;
        // A second request replaces the first.
        rig.window->requestTimedInterrupt(boost::shared_ptr<StopWatch>(new FixedStopWatch(0)), 7000);
        rig.pump();
        QCOMPARE(timer->interval(), 8);
        QTRY_COMPARE(rig.count(SceneCall::TimerInterrupt), 1);
    }

    void fillLevel_data()
    {
        // an empty picture: hidden
        columns<bool, int, int, QString, QString>("overflow", "step", "percent", "picture", "toolTip");
        QTest::newRow("not reported") << false << 0 << -2 << QString() << "Buffer Filllevel";
        QTest::newRow("step 0") << false << 0 << -1 << "buffer_0" << "Buffer Filllevel: 0%";
        QTest::newRow("step 2") << false << 2 << -1 << "buffer_2" << "Buffer Filllevel: 50%";
        QTest::newRow("step 7") << false << 7 << -1 << "buffer_3" << "Buffer Filllevel: 75%";
        for (int p : {9, 10, 24, 25, 49, 50, 74, 75}) {
            const char* picture[] = {"buffer_0", "buffer_1", "buffer_2", "buffer_3", "buffer_overflow"};
            QTest::newRow(qPrintable(QStringLiteral("%1%").arg(p)))
                << false << 0 << p << picture[(p >= 10) + (p >= 25) + (p >= 50) + (p >= 75)]
                << QStringLiteral("Buffer Filllevel: %1%").arg(p);
        }
        QTest::newRow("overflow wins") << true << 0 << 3 << "buffer_overflow" << "Buffer Filllevel: 100%";
    }

    void fillLevel()
    {
        const auto [overflow, step, percent, picture, toolTip] = fetch<bool, int, int, QString, QString>(
            "overflow", "step", "percent", "picture", "toolTip");
        WindowRig rig;
        rig.window->notifyCameraStatusUpdate(false, true, false, true, false, overflow, step, percent);
        rig.pump();
        QLabel* fill = rig.d().bufferFillLabel;
        QCOMPARE(fill->isHidden(), picture.isEmpty());
        QVERIFY(picture.isEmpty() || shows(fill, picture));
        QCOMPARE(fill->toolTip(), toolTip);
        // The lamps follow their own flags through the event.
        QCOMPARE(rig.d().fvalLabel->toolTip() + ' ' + rig.d().lvalLabel->toolTip(), QStringLiteral("FVAL ON LVAL OFF"));
        QVERIFY(shows(rig.d().exsyncLabel, "exsync_on"));
    }

    // The lamp shows the camera clock or the sources; the signal reports changes only.
    void clockLamp_data()
    {
        columns<bool, bool, bool, bool, bool, int>("sources", "clock", "signal", "repeat", "lamp", "emits");
        QTest::newRow("clock, repeated") << false << true << true << true << true << 1;
        QTest::newRow("sources, no clock") << true << false << true << false << true << 1;
        QTest::newRow("neither") << false << false << true << false << false << 0;
        QTest::newRow("clock, signal off") << false << true << false << false << true << 0;
    }

    void clockLamp()
    {
        const auto [sources, clock, signal, repeat, lamp, emits] = fetch<bool, bool, bool, bool, bool, int>(
            "sources", "clock", "signal", "repeat", "lamp", "emits");
        WindowRig rig;
        QLabel* label = rig.d().clockLabel;
        QVERIFY(rig.d().sourcesConnected && shows(label, "clock_on")); // attaching found the source
        rig.window->enableCameraClockSignal(signal);
        QSignalSpy changed(rig.window.get(), &Qt4DisplaySceneVisualizer::cameraClockChanged);
        rig.window->notifySourcesConnected(sources);
        QVERIFY(shows(label, sources ? "clock_on" : "clock_off"));
        for (int i = 0; i < (repeat ? 2 : 1); ++i) {
            rig.window->notifyCameraStatusUpdate(clock, false, false, false, false, false, 0, -2);
            rig.pump();
        }
        QVERIFY(shows(label, lamp ? "clock_on" : "clock_off"));
        QCOMPARE(label->toolTip(), lamp ? QStringLiteral("Sources Detected") : QStringLiteral("NO Sources Detected"));
        QVERIFY(changed.count() == emits && (!emits || changed.at(0).at(2).toBool()) && rig.window->isCameraClockOn() == lamp);
        // A running camera clock keeps the lamp on whatever the sources say.
        rig.window->notifySourcesConnected(false);
        QVERIFY(shows(label, lamp ? "clock_on" : "clock_off"));
    }

    // The labels on the frame shown: its transfer, and the acquisition rate from the
    // buffer updates since grabbing started.
    void frameStatus_data()
    {
        // height: the image height the transfer amounts to
        // indices: frame index and time stamp of each update
        columns<qulonglong, int, QString, QString, QList<qlonglong>, QList<qulonglong>, QString>(
            "length", "sceneWidth", "dma", "height", "indices", "stamps", "rate");
        using I = QList<qlonglong>;
        using S = QList<qulonglong>;
        QTest::newRow("whole lines, three updates")
            << 1048576ull << 1024 << "0x100000 Bytes" << "1024" << I{10, 11, 13} << S{0, 10000, 30000} << "100.00";
        QTest::newRow("partial line, one update") << 1000000ull << 1024 << "0xf4240 Bytes" << "976.56" << I{10} << S{0} << "-";
        QTest::newRow("equal stamps") << 4096ull << 1024 << "0x1000 Bytes" << "4" << I{10, 11} << S{500, 500} << "-";
        QTest::newRow("no width, no frames between") << 4096ull << 0 << "0x1000 Bytes" << "-" << I{7, 7} << S{0, 100} << "-";
        // 70 updates wrap the ring of 64: update 69 (slot 5) against update 6 (slot 6), 126
        // frames in 472500 us. The stamps grow quadratically: any other pair gives another rate.
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
        const auto [length, sceneWidth, dma, height, indices, stamps, rate] =
            fetch<qulonglong, int, QString, QString, QList<qlonglong>, QList<qulonglong>, QString>(
                "length", "sceneWidth", "dma", "height", "indices", "stamps", "rate");
        WindowRig rig({sceneWidth, 16, 8, true});
        auto gray = buffer(8, 8, 8);
        rig.started();
        for (int i = 0; i < indices.size(); ++i) {
            gray->setFrameIndex(indices[i]);
            gray->setTimestamp(stamps[i]);
            rig.window->notifyBufferUpdated(gray);
        }
        gray->setFrameIndex(-3); // the rates come from what the updates recorded
        gray->setTransferLength(length);
        gray->setTag(255);
        gray->setFlags(5);
        rig.show(gray, {});
        auto* transfer = rig.child<QLabel>("dmaTransferLabel");
        const auto texts = [&] {
            QStringList all;
            for (QLabel* label : {rig.child<QLabel>("frameIndexLabel"), rig.child<QLabel>("frameTagLabel"),
                                  rig.child<QLabel>("frameFlagsLabel"), transfer, rig.d().acquisitionFpsLabel, rig.d().renderFpsLabel})
                all << label->text() + (label->isEnabled() ? "" : " (off)");
            return all;
        };
        QCOMPARE(texts(), QStringList({"-3", "255 (0x0000ff)", "0x05", dma,
                                       QStringLiteral("Acquisition FPS: <b>%1</b>%2").arg(rate, rate == "-" ? " (off)" : ""),
                                       "Render FPS: <b>25.0</b>"}));
        QVERIFY(transfer->toolTip().contains(QStringLiteral("Height:</b></td><td style='white-space:nowrap'>%1 Pixel<").arg(height)));
        QVERIFY(transfer->toolTip().contains(QStringLiteral(">%1 (0x%2) Bytes<").arg(length).arg(length, 0, 16)));
        // Once the buffer is gone, the labels fall back to "-".
        rig.d().currentFrameBuffer.reset();
        rig.stopped();
        QCOMPARE(texts(), QStringList({"- (off)", "- (off)", "- (off)", "- (off)", "Acquisition FPS: <b>-</b> (off)",
                                       "Render FPS: <b>-</b> (off)"}));
        QVERIFY(transfer->toolTip().isEmpty());
    }

    void overflowCounters()
    {
        WindowRig rig;
        QLabel* label = rig.d().overflowLabel;
        const auto shown = [label] { return label->text() + '|' + label->toolTip(); };
        rig.window->updateOverflowEvents(true, true, 7); // no numbers until the host says it counts
        QTRY_COMPARE(shown(), QStringLiteral("Overflow: <b>-</b> / <b>-</b>|Overflow Events:\n- corrupted frames\n- lost frames"));
        rig.window->setOverflowEventsSupport(true);
        rig.window->resetEvents();
        for (int i = 0; i < 3; ++i)
            rig.window->updateOverflowEvents(true, false, 7);
        QTRY_COMPARE(shown(), QStringLiteral("Overflow: <b>3</b> / <b>0</b>|Overflow Events:\n3 corrupted frames\n0 lost frames"));
        rig.window->resetEvents();
        rig.window->updateOverflowEvents(false, true, 1);
        QTRY_COMPARE(label->text(), QStringLiteral("Overflow: <b>0</b> / <b>1</b>"));
    }

    void enableStates_data()
    {
        // expected: local settings | the grab buttons | stop | the buffer selectors | the save
        // buttons (1 on, 0 off); then the grab status updates the event caused. A group always agrees.
        columns<QString, bool, QString>("event", "external", "expected");
        QTest::newRow("constructed") << "constructed" << false << "0 111 1 00 00 0";
        QTest::newRow("attached, idle") << "attached" << false << "1 111 0 11 00 1";
        QTest::newRow("attached, grabbing") << "attachedGrabbing" << false << "0 000 1 00 00 1";
        QTest::newRow("started") << "started" << false << "0 000 1 00 00 1";
        QTest::newRow("started, external") << "started" << true << "1 111 0 00 00 1";
        QTest::newRow("stopped with buffers") << "stopped" << false << "1 111 0 11 11 2";
        QTest::newRow("stopped, external") << "stopped" << true << "0 000 1 11 11 2";
        QTest::newRow("invalidated") << "invalidated" << false << "1 111 0 00 00 2";
        QTest::newRow("dma(true, true, false)") << "dma110" << false << "0 000 1 11 00 0";
        QTest::newRow("dma(x, y, true)") << "dma111" << false << "0 000 0 11 00 0";
        QTest::newRow("dma(false, false, false)") << "dma000" << false << "1 111 0 11 00 0";
    }

    void enableStates()
    {
        const auto [event, external, expected] = fetch<QString, bool, QString>("event", "external", "expected");
        WindowRig rig;
        std::unique_ptr<Qt4DisplaySceneVisualizer> bare(event == "constructed" ? Qt4DisplaySceneVisualizer::create(nullptr, 0, 0) : nullptr);
        Qt4DisplaySceneVisualizer* window = bare ? bare.get() : rig.window.get();
        window->enableExternalButtonControl(external);
        window->enableGrabSignals(true); // changes no state of its own: only adds the updates
        QSignalSpy updates(window, &Qt4DisplaySceneVisualizer::grabButtonStatusUpdated);
        if (event.startsWith("attached")) {
            if (event == "attachedGrabbing") {
                rig.scene->startGrabbing(-1); // nothing is pushed: it stays grabbing
                QTRY_COMPARE(updates.count(), 1);
            }
            rig.scene->detachVisualizer(window);
            updates.clear();
            rig.scene->attachVisualizer(window);
        } else if (event == "started") {
            window->notifyGrabbingStarted();
        } else if (event == "stopped" || event == "invalidated") {
            if (external)
                window->applyDmaConnectionToControlButtons(true, true, false);
            // A real single-frame acquisition: its notifications leave one buffer to offer.
            rig.source().pushFrame([](FrameBuffer&) {});
            rig.scene->startGrabbing(1);
            QTRY_COMPARE(window->findChild<QSlider*>("frameBufferSlider")->maximum(), 1);
        }
        if (event == "invalidated") {
            window->notifyFrameBuffersInvalidated();
            rig.pump();
            // A frame of the old buffers that arrives late is not shown.
            boost::shared_ptr<DisplaySceneFrame> late(new DisplaySceneFrame(8, 8));
            late->setFrameBuffer(buffer(8, 8, 12));
            window->notifySceneFrameChanged(late, 0);
            rig.pump();
            QVERIFY(rig.d().currentFrameBuffer.expired());
        } else if (event.startsWith("dma")) {
            window->applyDmaConnectionToControlButtons(event[3] == '1', event[4] == '1', event[5] == '1');
        }
        rig.pump();
        QCOMPARE(enabled(window, {"localSettingsButton", "|", "grabSequenceButton", "grabInfiniteButton", "grabSingleButton",
                                  "|", "stopButton", "|", "frameBufferSpinBox", "frameBufferSlider", "|",
                                  "saveSequenceButton", "saveFrameButton"}) + ' ' + QString::number(updates.count()),
                 expected);
        if (event == "dma000")
            QVERIFY(sameImage(window->findChild<QPushButton*>("grabSingleButton")->icon().pixmap(16, 16),
                              "grab_single_no_source"));
    }

    void grabPress_data()
    {
        // outcome: "message", "signal" or "start"
        columns<bool, bool, int, bool, QString>("external", "sourcesDetected", "detectionDisabled", "grabSignals", "outcome");
        QTest::newRow("no external control, no source") << false << false << 0 << false << "start";
        QTest::newRow("external, no source, signals") << true << false << 0 << true << "message";
        QTest::newRow("external, no source, detection off") << true << false << 1 << false << "start";
        QTest::newRow("external, source") << true << true << 0 << false << "start";
        QTest::newRow("signals") << false << false << 0 << true << "signal";
    }

    void grabPress()
    {
        const auto [external, sourcesDetected, detectionDisabled, grabSignals, outcome] = fetch<bool, bool, int, bool, QString>(
            "external", "sourcesDetected", "detectionDisabled", "grabSignals", "outcome");
        VelmarApplication::setConfigEntry("gui.mainwindow.disable_source_detection", std::int64_t(detectionDisabled));
        WindowRig rig;
        rig.window->enableExternalButtonControl(external);
        rig.window->enableGrabSignals(grabSignals);
        rig.window->applyDmaConnectionToControlButtons(sourcesDetected, false, false);
        QSignalSpy sequenceSignal(rig.window.get(), &Qt4DisplaySceneVisualizer::grabSequenceButtonClicked);
        DialogAnswerer answerer;
        answerer.buttons << QMessageBox::Ok;
        QTest::mouseClick(rig.child<QPushButton>("grabSequenceButton"), Qt::LeftButton);
        QCOMPARE(sequenceSignal.count(), outcome == "signal" ? 1 : 0);
        QCOMPARE(rig.count(SceneCall::StartGrabbing), outcome == "start" ? 1 : 0);
        QVERIFY(outcome != "start" || rig.last(SceneCall::StartGrabbing)->a == 0);
        QCOMPARE(answerer.seen, outcome == "message" ? QStringList{"No source detected."} : QStringList());
        QSignalSpy stopSignal(rig.window.get(), &Qt4DisplaySceneVisualizer::stopButtonClicked);
        QSignalSpy localSignal(rig.window.get(), &Qt4DisplaySceneVisualizer::localSettingsButtonClicked);
        rig.window->internalStopButtonClicked();
        rig.window->internalLocalSettingsButtonClicked();
        QCOMPARE(QList<int>({int(stopSignal.count()), rig.count(SceneCall::StopGrabbing), int(localSignal.count())}),
                 QList<int>({grabSignals, !grabSignals, 1}));
    }

    void bufferBrowsing()
    {
        WindowRig rig;
        for (int i = 0; i < 5; ++i)
            rig.source().pushFrame([](FrameBuffer&) {});
        rig.window->internalGrabInfiniteButtonClicked();
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
        QVERIFY(spinBox->value() == 2 && rig.count(SceneCall::SetBuffer) == 1 && rig.last(SceneCall::SetBuffer)->a == 2);
        spinBox->setValue(4);
        QVERIFY(slider->value() == 4 && rig.count(SceneCall::SetBuffer) == 2);
    }

    // Steps as window and scene pass them. mapped: the step held, one step out and in, then
    // lengths 0, 1, 3, 65 from image to canvas and from canvas to image, in pairs.
    void zoomStepMapping_data()
    {
        columns<int, QList<int>>("step", "mapped");
        QTest::newRow("1:64, from below the range") << -1 << QList<int>{0, 0, 1, 0, 0, 0, 64, 0, 192, 1, 4160};
        QTest::newRow("1:2") << 5 << QList<int>{5, 4, 6, 0, 0, 0, 2, 1, 6, 32, 130};
        QTest::newRow("1:1") << 6 << QList<int>{6, 5, 7, 0, 0, 1, 1, 3, 3, 65, 65};
        QTest::newRow("2:1") << 7 << QList<int>{7, 6, 8, 0, 0, 2, 0, 6, 1, 130, 32};
        QTest::newRow("64:1, from above the range") << 13 << QList<int>{12, 11, 12, 0, 0, 64, 0, 192, 0, 4160, 1};
    }

    void zoomStepMapping()
    {
        const auto [step, mapped] = fetch<int, QList<int>>("step", "mapped");
        const ZoomStep zoom(step);
        QList<int> got{zoom.value(), zoom.zoomedOut().value(), zoom.zoomedIn().value()};
        for (int length : {0, 1, 3, 65})
            got << zoom.imageToCanvas(length) << zoom.canvasToImage(length);
        QCOMPARE(got, mapped);
        for (int s = ZoomStep::minimum; s <= ZoomStep::maximum; ++s) // 64 image pixels are 2^s canvas pixels
            QVERIFY2(ZoomStep(s).imageToCanvas(64) == 1 << s && ZoomStep(s).canvasToImage(1 << s) == 64, qPrintable(QString::number(s)));
    }

    // An image 1000 pixels wide on a canvas of 800: the spin box text and scroll bar at
    // each zoom step, and the zoom buttons at the ends of the range.
    void zoomSteps_data()
    {
        // bar: "page step/maximum", or "hidden"
        // buttons: zoom in, zoom out, pixel values: 1 enabled
        columns<int, QString, QString>("step", "bar", "buttons");
        QTest::newRow("1:64") << 0 << "hidden" << "100";
        QTest::newRow("32:1") << 11 << "25/975" << "111";
        QTest::newRow("64:1") << 12 << "12/988" << "011"; // the page truncated
    }

    void zoomSteps()
    {
        const auto [step, bar, buttons] = fetch<int, QString, QString>("step", "bar", "buttons");
        WindowRig rig({1000, 10, 8, true});
        auto& d = rig.d();
        d.canvasWidth = 800;
        d.canvasHeight = 600;
        auto* horizontal = rig.child<QScrollBar>("horizontalScrollBar");
        horizontal->show();
        horizontal->setValue(0);
        auto* spinBox = rig.child<QSpinBox>("zoomValueSpinBox");
        spinBox->setValue(step);
        QCOMPARE(spinBox->text(), QString::fromLatin1(QTest::currentDataTag()));
        QCOMPARE(horizontal->isHidden() ? QStringLiteral("hidden")
                                        : QStringLiteral("%1/%2").arg(horizontal->pageStep()).arg(horizontal->maximum()),
                 bar);
        QCOMPARE(horizontal->value(), 0);
        QCOMPARE(rig.last(SceneCall::SetZoomFactor)->a, std::int64_t(step));
        QCOMPARE(enabled(rig.window.get(), {"zoomInButton", "zoomOutButton", "rgbOverlayButton"}), buttons);
        const bool up = buttons[0] == '1'; // a button press moves one step
        QTest::mouseClick(rig.child<QPushButton>(up ? "zoomInButton" : "zoomOutButton"), Qt::LeftButton);
        QCOMPARE(d.zoomStep.value(), up ? step + 1 : step - 1);
    }

    void wheelZoomAboutPoint_data()
    {
        // at: canvas point under the mouse; call: the scene's new zoom step and offset, or
        // "none" when nothing happens
        columns<int, QPoint, QPointF, bool, QString>("startStep", "angle", "at", "written", "call");
        QTest::newRow("6 to 7") << 6 << QPoint(0, 120) << QPointF(100, 50) << true << "7 (50, 25)";
        QTest::newRow("6 to 7, fractions truncated") << 6 << QPoint(0, 120) << QPointF(100.75, 50.75) << true << "7 (50, 25)";
        QTest::newRow("6 to 5") << 6 << QPoint(0, -120) << QPointF(100, 50) << true << "5 (0, 0)";
        QTest::newRow("larger horizontal out") << 6 << QPoint(-120, 10) << QPointF(100, 50) << true << "5 (0, 0)";
        QTest::newRow("larger horizontal in") << 6 << QPoint(120, -10) << QPointF(100, 50) << true << "7 (50, 25)";
        QTest::newRow("unwritten pixel") << 6 << QPoint(0, 120) << QPointF(100, 50) << false << "7 (0, 0)";
        QTest::newRow("at 12, zero delta") << 12 << QPoint() << QPointF(10, 10) << true << "none";
        QTest::newRow("at 0, toward") << 0 << QPoint(0, -120) << QPointF(10, 10) << true << "none";
    }

    void wheelZoomAboutPoint()
    {
        const auto [startStep, angle, onCanvas, written, expected] =
            fetch<int, QPoint, QPointF, bool, QString>("startStep", "angle", "at", "written", "call");
        WindowRig rig({2000, 2000, 8, true}, 1, true);
        auto gray = buffer(2000, 2000, 8);
        if (!written)
            gray->setLastValidPixel(10, 0); // only the first line is in
        rig.grabbingWith(gray);
        auto* spinBox = rig.child<QSpinBox>("zoomValueSpinBox");
        spinBox->setValue(startStep);
        rig.show(gray, SceneRenderer::geometryFor(startStep, 0, 0));
        rig.calls.clear();
        QSignalSpy zoomSignal(spinBox, SIGNAL(valueChanged(int)));
        // The wheel arrives at the window; the test hands it over in window coordinates.
        const QPointF at = rig.child("canvasWidget")->mapTo(rig.window.get(), QPoint()) + onCanvas;
        QWheelEvent wheel(at, rig.window->mapToGlobal(at.toPoint()), QPoint(), angle, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(rig.window.get(), &wheel);
        const SceneCall* call = rig.last(SceneCall::SetZoomFactorAndOffset);
        QCOMPARE(call ? QStringLiteral("%1 (%2, %3)").arg(call->a).arg(call->b).arg(call->c) : QStringLiteral("none"), expected);
        QCOMPARE(rig.d().zoomStep.value(), call ? int(call->a) : startStep);
        if (!call)
            return;
        // Neither the spin box nor the scroll bars told the scene on their own.
        QVERIFY(zoomSignal.isEmpty() && rig.count(SceneCall::SetZoomFactor) == 0 && rig.count(SceneCall::SetOffset) == 0);
        QCOMPARE(QList<int>({spinBox->value(), rig.child<QScrollBar>("horizontalScrollBar")->value()}),
                 QList<int>({int(call->a), int(call->b)}));
    }

    void dragCarriesRemainder_data()
    {
        // carried: canvas pixels kept for the next move
        columns<int, int, int, int>("zoom", "move", "scrolled", "carried");
        QTest::newRow("4:1, 7 pixels") << 8 << 7 << 1 << 3;
        QTest::newRow("4:1, -7 pixels") << 8 << -7 << -1 << -3;
        QTest::newRow("1:2, 7 pixels") << 5 << 7 << 14 << 0;
    }

    // The same move along both axes: the two bars must follow alike.
    void dragCarriesRemainder()
    {
        const auto [zoom, move, scrolled, carried] = fetch<int, int, int, int>("zoom", "move", "scrolled", "carried");
        WindowRig rig({4000, 4000, 8, true}, 1, true);
        auto& d = rig.d();
        d.frameZoomValue = zoom;
        const QList<QScrollBar*> bars{rig.child<QScrollBar>("horizontalScrollBar"), rig.child<QScrollBar>("verticalScrollBar")};
        const auto values = [&] { return QList<int>({bars[0]->value(), bars[1]->value()}); };
        for (QScrollBar* bar : bars) {
            bar->show();
            bar->setRange(0, 1000);
            bar->setValue(500);
        }
        QTest::mousePress(rig.window.get(), Qt::LeftButton, Qt::NoModifier,
                          rig.child("canvasWidget")->mapTo(rig.window.get(), QPoint(100, 100)));
        const auto moveTo = [&](int at) {
            QMouseEvent e(QEvent::MouseMove, QPointF(at, at), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            rig.window->notifyMouseMoveEvent(&e);
        };
        moveTo(100 + move);
        QCOMPARE(values(), QList<int>({500 - scrolled, 500 - scrolled})); // dragging right moves the view left
        QCOMPARE(d.dragPosition, QPoint(100 + move - carried, 100 + move - carried));
        // A step past the bars' ends leaves them where they are.
        for (QScrollBar* bar : bars)
            bar->setValue(0);
        moveTo(d.dragPosition.x() + 4 * ZoomStep(zoom).pixelSize());
        QCOMPARE(values(), QList<int>({0, 0}));
    }

    // The readout's and a magnified pixel's layouts, and the 8-bit level. Hex digits: one
    // per started group of four bits. A colour pixel is (value, 0, 1); a negative value is
    // read from outside the buffer, where every channel is 0, and is only scaled.
    void pixelValueLayouts_data()
    {
        columns<int, bool, bool, int, QString, QString, int>("bits", "gray", "hex", "value", "readout", "cell", "level");
        QTest::newRow("gray 1 hex") << 1 << true << true << 1 << "0x1" << "0x1" << 128;
        QTest::newRow("outside, colour 4 decimal") << 4 << false << false << -1 << "(0,0,0)" << "R: 0\nG: 0\nB: 0" << -16;
        QTest::newRow("gray 5 hex") << 5 << true << true << 1 << "0x01" << "0x01" << 8;
        QTest::newRow("colour 8 decimal") << 8 << false << false << 200 << "(200,0,1)" << "R: 200\nG: 0\nB: 1" << 200;
        QTest::newRow("outside, gray 12 hex, rounds down") << 12 << true << true << -17 << "0x000" << "0x000" << -2;
        QTest::newRow("colour 16 hex") << 16 << false << true << 4096 << "(0x1000,0x0000,0x0001)" << "R: 0x1000\nG: 0x0000\nB: 0x0001" << 16;
    }

    void pixelValueLayouts()
    {
        const auto [bits, gray, hex, value, readout, cell, level] = fetch<int, bool, bool, int, QString, QString, int>(
            "bits", "gray", "hex", "value", "readout", "cell", "level");
        FrameBuffer image(1, 1, bits, gray);
        gray ? image.setPixelValueGray(0, 0, value) : image.setPixelValueColor(0, 0, value, 0, 1);
        const PixelValue pixel(image, value < 0 ? 1 : 0, 0);
        QCOMPARE(QString::fromStdString(pixel.text(hex) + '|' + pixel.cellText(hex)), readout + '|' + cell);
        QCOMPARE(QList<int>({pixel.isValid(), PixelValue::toEightBitLevel(value, bits)}), QList<int>({value >= 0, level}));
    }

    void readout_data()
    {
        columns<bool, bool, QPoint, Geometry, QString, QString>("gray", "hex", "mouse", "geometry", "position", "data");
        const Geometry unity{100, 0, 1, 1, 6}, origin{0, 0, 1, 1, 6}; // {minX, minY, step, pixel size, zoom}
        QTest::newRow("colour 8 decimal") << false << false << QPoint(10, 20) << unity << "(110, 20)" << "(255,0,16)";
        QTest::newRow("4:1 column 3") << true << true << QPoint(3, 20) << Geometry{100, 2, 1, 4, 8} << "(100, 7)" << "0xff";
        QTest::newRow("not yet written") << true << true << QPoint(10, 40) << unity << "(110, 40)" << "Invalid";
        QTest::newRow("right of the image") << true << true << QPoint(150, 20) << unity << "None" << "None";
        QTest::newRow("left of the image") << true << true << QPoint(-20, 20) << origin << "None" << "None";
    }

    void readout()
    {
        const auto [gray, hex, mouse, geometry, position, data] =
            fetch<bool, bool, QPoint, Geometry, QString, QString>("gray", "hex", "mouse", "geometry", "position", "data");
        WindowRig rig({200, 100, 8, gray});
        auto image = buffer(200, 100, 8, gray, true);
        image->setLastValidPixel(199, 30);
        rig.grabbingWith(image);
        rig.child<QPushButton>("hexDecButton")->setChecked(hex);
        rig.show(image, geometry);
        rig.window->notifyCanvasMousePosition(mouse);
        QCOMPARE(rig.text("positionLabel") + ' ' + rig.text("dataLabel"), position + ' ' + data);
        QCOMPARE(rig.child<QLabel>("dataLabel")->isEnabled(), data != "None" && data != "Invalid");
        rig.window->notifyCanvasMousePosition(QPoint(-1, -1)); // leaving the canvas empties it at once
        QCOMPARE(rig.text("dataLabel"), QStringLiteral("None"));
    }

private:
    QTemporaryDir configDir; // the configuration file of the whole run
};

QTEST_MAIN(TestWindowAtWork)
#include "tst_window_at_work.moc"
