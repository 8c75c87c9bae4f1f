// Both line tool dialogs through one test body each: the hand-over of requests to the worker
// (deferral while hidden, requests and clearing during a run), the canvases after a resize,
// and a stream of frames at full speed with another thread waiting for the worker, as the
// scene's notification thread does; then the profile's own view: ranges, labels, marker
// scaling and the readout. Meant to run under ThreadSanitizer too.

#include "LineToolTestSupport.h"

#include <QtTest>

#include <type_traits>

using namespace linetooltest;

class TestLineToolDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { dropOffscreenSizeHintWarnings(); }
    void deferralAndClearing_data() { bothTools(); }
    void deferralAndClearing();
    void requestDuringRun_data();
    void requestDuringRun();
    void noRunWhileResultWaits_data() { bothTools(); }
    void noRunWhileResultWaits();
    void framesAtFullSpeed_data() { bothTools(); }
    void framesAtFullSpeed();
    void profileDetailViewAndReadout_data();
    void profileDetailViewAndReadout();
};

// Requests made while the dialog is hidden wait for its showing and then run once, for the
// latest frame and line; a lower line maximum moves the line at once. A resize leaves the
// canvas showing the picture. Then the dialog is cleared while a run is in progress, which
// leaves nothing to run on showing.
void TestLineToolDialogs::deferralAndClearing()
{
    forTool([](auto tool) {
        using T = decltype(tool);
        Rig<T> rig;
        rig.dialog->setSceneFrame(linesFrame(513, 40, 12, false, 1));
        rig.dialog->yPositionSpinBox->setValue(45); // to 39, then to 10 with the next frame
        const Frame latest = linesFrame(513, 11, 12, false, 2);
        rig.dialog->setSceneFrame(latest);
        rig.dialog->show();
        rig.settle(); // a run started by mistake, while hidden, would be counted too
        QCOMPARE(rig.results, 1);
        QCOMPARE(rig.picture(), runOn<T>(latest, 10));
        QCOMPARE(T::state(*rig.dialog), T::shownState(513, 11, 12));
        rig.dialog->resize(rig.dialog->width() + 50, rig.dialog->height() + 30);
        QTRY_COMPARE(T::state(*rig.dialog), T::shownState(513, 11, 12));

        // Clearing waits for the run and frees the picture store; the run's result, arriving
        // afterwards, finds no frame and changes nothing.
        const auto gated = boost::make_shared<GatedBuffer>(T::gatedWidth, 11);
        rig.dialog->setSceneFrame(linesFrame(gated));
        while (!gated->entered)
            std::this_thread::yield();
        // Clearing first lowers the maximum, which moves the line to 0; the run is let go at
        // that moment, on the GUI thread, just before the dialog must wait for it. (The gated
        // frame keeps the line: a moved line would start a run for the previous frame first.)
        // Nothing moves the line again while the connection lasts.
        QObject::connect(rig.dialog->yPositionSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), rig.dialog.get(),
                         [&] { gated->open = true; });
        rig.dialog->setSceneFrame({});
        QVERIFY(!rig.worker.isRunning() && rig.worker.picture.isNull() && rig.worker.spare.isNull());
        T::canvas(*rig.dialog)->resize(80, 40); // a resize with no picture has nothing to scale
        QCOMPARE(T::state(*rig.dialog), T::noBuffer());

        // The line moved by clearing asked for a run of the frame that is gone; none follows, only
        // the cleared run's result arrives.
        rig.dialog->hide();
        rig.dialog->show();
        rig.settle();
        QCOMPARE(rig.results, 2);
        QCOMPARE(T::state(*rig.dialog), T::noBuffer());
    });
}

void TestLineToolDialogs::requestDuringRun_data()
{
    // The dock closed once the run is under way, another frame handed over during the run,
    // the dock reopened during the run (else only after it), the line changed to 1, 2, ... line.
    QTest::addColumn<QString>("tool");
    for (const char* column : {"closed", "newFrame", "reopened"})
        QTest::addColumn<bool>(column);
    QTest::addColumn<int>("line");
    for (const char* tool : {"profile", "histogram"}) {
        row(tool, "40 line changes") << false << false << false << 40;
        row(tool, "frame handed over") << false << true << false << 0;
        row(tool, "frame and line") << false << true << false << 3;
        row(tool, "dock closed, line changed, reopened") << true << false << true << 2;
        row(tool, "dock closed, frame handed over, opened after the run") << true << true << false << 1;
    }
}

// What is asked for while a run is in progress is kept: once that run ends, exactly one more
// draws the last frame and line asked for, and not before the dock is open.
void TestLineToolDialogs::requestDuringRun()
{
    forTool([](auto tool) {
        using T = decltype(tool);
        QFETCH(bool, closed); QFETCH(bool, newFrame); QFETCH(bool, reopened); QFETCH(int, line);
        Rig<T> rig;
        rig.dialog->show();
        const auto gated = boost::make_shared<GatedBuffer>(300, 41);
        const Frame held = linesFrame(gated);
        rig.dialog->setSceneFrame(held);
        while (!gated->entered)
            std::this_thread::yield();
        if (closed)
            rig.dialog->hide();
        const Frame want = newFrame ? linesFrame(300, 41, 8, true, 1) : held;
        if (newFrame)
            rig.dialog->setSceneFrame(want);
        for (int y = 1; y <= line; ++y)
            rig.dialog->yPositionSpinBox->setValue(y);
        if (reopened)
            rig.dialog->show();
        gated->open = true;
        rig.settle();
        // Closed, the request waits for the dock; open, showing once more runs nothing more.
        const bool asked = newFrame || line != 0;
        QCOMPARE(rig.results, closed && !reopened ? 1 : 1 + asked);
        rig.dialog->show();
        rig.settle();
        QCOMPARE(rig.results, 1 + asked);
        QCOMPARE(rig.picture(), runOn<T>(want, line));
    });
}

// A run has ended and its result waits for the dialog's slot: a frame handed over meanwhile
// starts no run, which would draw into a third store, until the result is taken; then one.
void TestLineToolDialogs::noRunWhileResultWaits()
{
    forTool([](auto tool) {
        using T = decltype(tool);
        Rig<T> rig;
        const Frame second = linesFrame(300, 4, 8, true, 2), third = linesFrame(300, 4, 8, true, 3);
        QVERIFY(rig.showWith(linesFrame(300, 4, 8, true, 1), 2));
        rig.dialog->setSceneFrame(second);
        rig.dialog->waitForThread();
        rig.dialog->setSceneFrame(third);
        rig.dialog->waitForThread();
        QCOMPARE(rig.worker.picture, runOn<T>(second, 2));
        rig.settle();
        QCOMPARE(rig.results, 3);
        QCOMPARE(rig.picture(), runOn<T>(third, 2));
    });
}

// Frames as fast as the dialog takes them while it is shown, hidden and cleared and its line
// changes (also past the last line), with the profile's readout in use; meanwhile another
// thread keeps waiting for the worker. Quiet again, a long colour line shows as asked for.
void TestLineToolDialogs::framesAtFullSpeed()
{
    forTool([](auto tool) {
        using T = decltype(tool);
        Rig<T> rig;
        auto& dialog = *rig.dialog;
        dialog.show();
        std::atomic<bool> stop{false};
        std::atomic<int> waits{0};
        std::thread notifier([&] {
            for (; !stop.load(); ++waits)
                dialog.waitForThread(), std::this_thread::yield();
        });
        for (int n = 0; n < 1000; ++n) {
            QCoreApplication::processEvents();
            // Now and then a run ends and the next starts before its result is delivered, so
            // a result is taken while a later run draws.
            if (n % 5 == 1)
                dialog.waitForThread();
            // Blocks of 20 frames alternate the width, so the profile's store is remade and its
            // reuse is crossed by width changes; depth (4 to 16 bits) and gray or colour vary by frame.
            if (n % 2 == 0)
                dialog.setSceneFrame(linesFrame(n / 40 % 2 ? 1000 : 640, 24, 4 + n / 2 % 5 * 3, n % 3 != 0, n));
            if (n % 74 == 0)
                dialog.setSceneFrame(Frame()); // as when acquisition restarts
            if (n % 7 == 3)
                dialog.yPositionSpinBox->setValue(n / 7 % 27);
            if (n % 97 == 50 || n % 97 == 60)
                dialog.setVisible(n % 97 == 60);
            // The readout reads the line asked for, which a run reads too.
            if constexpr (std::is_same<T, ProfileTool>::value)
                movePointer(dialog.profileDetailWidget, n % 700);
        }
        stop = true;
        notifier.join();
        QVERIFY(rig.results > 0 && waits.load() > 0);

        dialog.show();
        const Frame last = linesFrame(16384, 41, 12, false);
        dialog.setSceneFrame(last);
        dialog.yPositionSpinBox->setValue(40);
        rig.settle();
        QCOMPARE(rig.picture(), runOn<T>(last, 40));
    });
}

void TestLineToolDialogs::profileDetailViewAndReadout_data()
{
    // The scroll bar's maximum; the horizontal marker in buffer values and as its level on the
    // picture's 8-bit scale.
    QTest::addColumn<bool>("gray");
    for (const char* column : {"bits", "samples", "canvasWidth", "zoom", "scroll", "maximum", "pointer", "marker", "level"})
        QTest::addColumn<int>(column);
    for (const char* column : {"range", "readout"})
        QTest::addColumn<QString>(column);

    // Line 1 is read: (x, 1) is 2x + 7 + 5c for channel c, modulo the depth. The
    // pointer's sample follows the offset the detail canvas got from the scroll bar. The
    // readout shows raw values; "None" (-1) is scaled like any marker value and stays negative.
    QTest::newRow("4x in between, cut sample") << true << 12 << 2000 << 800 << 4 << 1003 << 7200 << 3 << -1 << -1 << "250|450"
                                               << "Position (X): 251 -> Data (Gray): 509";
    QTest::newRow("3x, at the end, truncated") << true << 16 << 2000 << 800 << 3 << 5200 << 5200 << 0 << 65535 << 255 << "1733|1999"
                                               << "Position (X): 1733 -> Data (Gray): 3473";
    QTest::newRow("1:1 scrolled to the end") << true << 9 << 2000 << 800 << 1 << 1200 << 1200 << 30 << 200 << 100 << "1200|1999"
                                             << "Position (X): 1230 -> Data (Gray): 419";
    QTest::newRow("wider than the line, just past its end") << true << 4 << 2000 << 2100 << 1 << 0 << 0 << 2000 << 15 << 240 << "0|1999" << "No Data";
    QTest::newRow("colour 2x") << false << 8 << 1000 << 2000 << 2 << 0 << 0 << 401 << 255 << 255 << "0|999"
                               << "Position (X): 200 -> Data (R,G,B): (151,156,161)";
    QTest::newRow("1 bit") << true << 1 << 1000 << 2000 << 1 << 0 << 0 << 1 << -1 << -128 << "0|999" << "Position (X): 1 -> Data (Gray): 1";
}

void TestLineToolDialogs::profileDetailViewAndReadout()
{
    QFETCH(bool, gray); QFETCH(int, bits); QFETCH(int, samples); QFETCH(int, canvasWidth); QFETCH(int, zoom); QFETCH(int, scroll);
    QFETCH(int, maximum); QFETCH(int, pointer); QFETCH(int, marker); QFETCH(int, level); QFETCH(QString, range); QFETCH(QString, readout);

    Rig<ProfileTool> rig;
    Qt4LineProfileDialog& dialog = *rig.dialog;
    QVERIFY(rig.showWith(linesFrame(samples, 3, bits, gray), 2));
    // The overview canvas made exactly canvasWidth wide by widening the dialog; the overview is
    // the picture scaled to it as nearest neighbour (squeezed or stretched), by the canvas on the
    // resize and by the run after it.
    QWidget* const overview = dialog.profileOverviewWidget;
    dialog.resize(dialog.width() + canvasWidth - overview->width(), dialog.height());
    QTRY_COMPARE(overview->width(), canvasWidth);
    const auto fitted = [&] { return LineProfileCanvasInspector::d(*dialog.profileOverviewWidget).fitted; };
    const auto scaled = [&] { return ProfileTool::pixmap(dialog).scaled(overview->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation).toImage(); };
    QCOMPARE(fitted(), scaled());
    const qint64 fittedStore = storeOf(fitted());
    dialog.yPositionSpinBox->setValue(1);
    rig.settle();
    QCOMPARE(fitted(), scaled());
    QCOMPARE(storeOf(fitted()), fittedStore); // the run's copy copied into the kept store
    dialog.zoomSpinBox->setValue(zoom);
    QScrollBar* const bar = dialog.profileDetailScrollBar;
    QCOMPARE(QList<int>({bar->minimum(), bar->maximum(), bar->pageStep()}), QList<int>({0, maximum, canvasWidth}));
    bar->setValue(scroll);
    QCOMPARE(dialog.minXLabel->text() + '|' + dialog.maxXLabel->text(), QStringLiteral("     \n") + range);

    // From a sample with data first, so that "No Data" is a change too.
    movePointer(dialog.profileDetailWidget, 0);
    movePointer(dialog.profileDetailWidget, pointer);
    QCOMPARE(dialog.positionLabel->text(), readout);

    // Move away first so that "None" is a change too.
    dialog.horizontalMarkerSpinBox->setValue(marker == -1 ? 1 : -1);
    dialog.horizontalMarkerSpinBox->setValue(marker);
    QCOMPARE(LineProfileInspector::d(&dialog).horizontalMarker, level);

    // Cleared, the range stays until the next layout, which has no line to scroll along.
    dialog.setSceneFrame(Frame());
    QCOMPARE(bar->maximum(), maximum);
    dialog.resize(dialog.width() - 100, dialog.height());
    QTRY_COMPARE(bar->maximum(), 0);
}

QTEST_MAIN(TestLineToolDialogs)
#include "tst_line_tool_dialogs.moc"
