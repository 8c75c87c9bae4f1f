// The window: frames on screen, status indicators and acquisition controls, driven through
// its own inputs. Its tool windows, zoom, scrolling and readout tests live in
// tst_window_view.cpp and run from this file's main.

#include "DisplayTestSupport.h"

#include "vexo-core/StopWatch.h"

using namespace vexo::core;

namespace {

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

} // namespace

class TestWindowAtWork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("VEXO_CONFIG_FILE", configDir.filePath("config.ini").toUtf8()); }

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

    // One camera status update: the fill level picture and tip, and the clock lamp, which
    // shows the camera clock or the sources; the clock signal reports changes only.
    void cameraStatus_data()
    {
        // picture: empty when hidden; clock: sources, clock, signal on, reported twice
        columns<bool, int, int, QString, QString, QString, bool, int>("overflow", "step", "percent", "picture", "toolTip",
                                                                      "clock", "lamp", "emits");
        QTest::newRow("not reported") << false << 0 << -2 << QString() << "Buffer Filllevel" << "0111" << true << 1;
        QTest::newRow("step 0") << false << 0 << -1 << "buffer_0" << "Buffer Filllevel: 0%" << "1010" << true << 1;
        QTest::newRow("step 2") << false << 2 << -1 << "buffer_2" << "Buffer Filllevel: 50%" << "0010" << false << 0;
        QTest::newRow("step 7") << false << 7 << -1 << "buffer_3" << "Buffer Filllevel: 75%" << "0100" << true << 0;
        for (int p : {9, 10, 24, 25, 49, 50, 74, 75}) {
            const char* picture[] = {"buffer_0", "buffer_1", "buffer_2", "buffer_3", "buffer_overflow"};
            QTest::newRow(qPrintable(QStringLiteral("%1%").arg(p))) << false << 0 << p
                << picture[(p >= 10) + (p >= 25) + (p >= 50) + (p >= 75)] << QStringLiteral("Buffer Filllevel: %1%").arg(p)
                << "0110" << true << 1;
        }
        QTest::newRow("overflow wins") << true << 0 << 3 << "buffer_overflow" << "Buffer Filllevel: 100%" << "0110" << true << 1;
    }

    void cameraStatus()
    {
        const auto [overflow, step, percent, picture, toolTip, clock, lamp, emits] =
            fetch<bool, int, int, QString, QString, QString, bool, int>("overflow", "step", "percent", "picture", "toolTip",
                                                                        "clock", "lamp", "emits");
        WindowRig rig;
        QLabel* clockLabel = rig.d().clockLabel;
        QVERIFY(rig.d().sourcesConnected && shows(clockLabel, "clock_on")); // attaching found the source
        rig.window->enableCameraClockSignal(clock[2] == '1');
        QSignalSpy changed(rig.window.get(), &Qt4DisplaySceneVisualizer::cameraClockChanged);
        rig.window->notifySourcesConnected(clock[0] == '1');
        QVERIFY(shows(clockLabel, clock[0] == '1' ? "clock_on" : "clock_off"));
        for (int i = 0; i < (clock[3] == '1' ? 2 : 1); ++i) {
            rig.window->notifyCameraStatusUpdate(clock[1] == '1', true, false, true, false, overflow, step, percent);
            rig.pump();
        }
        QLabel* fill = rig.d().bufferFillLabel;
        QCOMPARE(fill->isHidden(), picture.isEmpty());
        QVERIFY(picture.isEmpty() || shows(fill, picture));
        QCOMPARE(fill->toolTip(), toolTip);
        // The lamps follow their own flags through the event.
        QCOMPARE(rig.d().fvalLabel->toolTip() + ' ' + rig.d().lvalLabel->toolTip(), QStringLiteral("FVAL ON LVAL OFF"));
        QVERIFY(shows(rig.d().exsyncLabel, "exsync_on"));
        QVERIFY(shows(clockLabel, lamp ? "clock_on" : "clock_off"));
        QCOMPARE(clockLabel->toolTip(), lamp ? QStringLiteral("Sources Detected") : QStringLiteral("NO Sources Detected"));
        QVERIFY(changed.count() == emits && (!emits || changed.at(0).at(2).toBool()) && rig.window->isCameraClockOn() == lamp);
        // A running camera clock keeps the lamp on whatever the sources say.
        rig.window->notifySourcesConnected(false);
        QVERIFY(shows(clockLabel, lamp ? "clock_on" : "clock_off"));
    }

    // A frame through grabbing and idle: whether it is shown, and the labels on it: its
    // transfer, and the acquisition rate from the buffer updates since grabbing started.
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
        auto gray = testBuffer(8, 8, 8);
        // Frames handed back, frames rendered, whether the canvas shows one.
        const auto shown = [&] {
            const bool onCanvas = !VisualizerInspector::canvasPixmap(rig.window.get()).isNull();
            return QStringLiteral("%1 %2 %3").arg(rig.count(SceneCall::FreeSceneFrame)).arg(rig.d().renderedFrames).arg(onCanvas);
        };
        rig.started();
        rig.show(gray, {}); // no buffer update yet: the frame goes back unseen
        QCOMPARE(shown(), QStringLiteral("1 0 0"));
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
        QCOMPARE(shown() + ' ' + rig.text("dataHeaderLabel") + rig.d().renderTimeLabel->text(),
                 QStringLiteral("2 1 1 Data (Gray): Render Time (microseconds): <b>123</b>"));
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
        // Grabbing started again clears the canvas and the render time.
        rig.started();
        QCOMPARE(shown() + ' ' + rig.d().renderTimeLabel->text(), QStringLiteral("2 0 0 Render Time (microseconds): <b>-</b>"));
        // Once the buffer is gone, the labels fall back to "-"; idle without valid buffers,
        // nothing is shown.
        rig.d().currentFrameBuffer.reset();
        rig.stopped();
        QCOMPARE(texts(), QStringList({"- (off)", "- (off)", "- (off)", "- (off)", "Acquisition FPS: <b>-</b> (off)",
                                       "Render FPS: <b>-</b> (off)"}));
        QVERIFY(transfer->toolTip().isEmpty());
        rig.show(gray, {});
        QCOMPARE(shown(), QStringLiteral("3 0 0"));
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
            rig.show(testBuffer(8, 8, 12), {}, QSize(8, 8));
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

    // Without external control a press starts even with no source; with grab signals the
    // host is told instead, for stop as well. A sequence is mode 0.
    void grabPress_data()
    {
        QTest::addColumn<bool>("grabSignals");
        QTest::newRow("scene") << false;
        QTest::newRow("signals") << true;
    }

    void grabPress()
    {
        QFETCH(bool, grabSignals);
        WindowRig rig;
        rig.window->enableGrabSignals(grabSignals);
        rig.window->applyDmaConnectionToControlButtons(false, false, false);
        QSignalSpy sequence(rig.window.get(), &Qt4DisplaySceneVisualizer::grabSequenceButtonClicked);
        QSignalSpy stop(rig.window.get(), &Qt4DisplaySceneVisualizer::stopButtonClicked);
        QSignalSpy local(rig.window.get(), &Qt4DisplaySceneVisualizer::localSettingsButtonClicked);
        DialogAnswerer answerer; // a wrong refusal must not block
        QTest::mouseClick(rig.child<QPushButton>("grabSequenceButton"), Qt::LeftButton);
        const auto start = rig.last(SceneCall::StartGrabbing);
        rig.window->internalStopButtonClicked();
        rig.window->internalLocalSettingsButtonClicked();
        QCOMPARE(QList<int>({int(sequence.count()), start ? int(start->a) + 1 : 0, int(stop.count()),
                             rig.count(SceneCall::StopGrabbing), int(local.count())}),
                 QList<int>({grabSignals, !grabSignals, grabSignals, !grabSignals, 1}));
    }

private:
    QTemporaryDir configDir; // the configuration file of the whole run
};

int runWindowViewTests(int argc, char** argv); // tst_window_view.cpp

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestWindowAtWork atWork;
    const int failed = QTest::qExec(&atWork, argc, argv);
    return failed | runWindowViewTests(argc, argv); // each at most 127: never wraps to 0
}

#include "tst_window_at_work.moc"
