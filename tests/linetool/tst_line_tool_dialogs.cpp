// Both line tool dialogs through one test body each: the hand-over of requests to the worker
// (deferral while hidden, requests and clearing during a run) and a stream of frames at full speed with a
// second thread waiting for the worker, as the scene's notification thread does; then the
// profile's own view: ranges, labels, marker scaling and the readout. Meant to run under
// ThreadSanitizer too.

#include "LineToolTestSupport.h"

#include <QtTest>

#include <mutex>

using namespace linetooltest;

namespace {

// Makes the profile's overview canvas exactly `width` pixels wide by widening the dialog.
bool setOverviewWidth(Qt4LineProfileDialog& dialog, int width)
{
    for (int attempt = 0; attempt < 3 && dialog.profileOverviewWidget->width() != width; ++attempt) {
        dialog.resize(dialog.width() + width - dialog.profileOverviewWidget->width(), dialog.height());
        QCoreApplication::processEvents();
    }
    return dialog.profileOverviewWidget->width() == width;
}

constexpr int streamHeight = 24;

// Frame n of the stream: blocks of 20 frames alternate the width, so the profile's store is
// remade and its reuse is crossed by width changes; depth and gray or colour vary by frame.
Frame streamFrame(int n)
{
    return linesFrame(n / 20 % 2 ? 1000 : 640, streamHeight, std::vector<int>{8, 12, 4, 10, 16}[n % 5], n % 3 != 0, n);
}

} // namespace

class TestLineToolDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { dropOffscreenSizeHintWarnings(); }
    void deferralAndClearing_data();
    void deferralAndClearing();
    void requestDuringRun_data();
    void requestDuringRun();
    void framesAtFullSpeed_data() { bothTools(); }
    void framesAtFullSpeed();
    void profileDetailViewAndReadout_data();
    void profileDetailViewAndReadout();
};

void TestLineToolDialogs::deferralAndClearing_data()
{
    QTest::addColumn<QString>("tool");
    for (const char* column : {"width", "height", "bits"})
        QTest::addColumn<int>(column);
    QTest::addColumn<bool>("gray");
    for (const char* tool : {"profile", "histogram"}) {
        row(tool, "gray 12 bits") << 513 << 7 << 12 << true;
        row(tool, "colour 8 bits") << 300 << 40 << 8 << false;
    }
}

// Requests made while the dialog is hidden wait for its showing and then run once, for the
// latest frame and line; a lower line maximum moves the line at once. Then the dialog is
// cleared while a run is in progress, which leaves nothing to run on showing.
void TestLineToolDialogs::deferralAndClearing()
{
    forTool([](auto tool) {
        using T = decltype(tool);
        QFETCH(int, width); QFETCH(int, height); QFETCH(int, bits); QFETCH(bool, gray);
        Rig<T> rig;
        QCOMPARE(T::state(*rig.dialog), T::noBuffer());
        const Frame frame = linesFrame(width, height, bits, gray);
        rig.dialog->setSceneFrame(frame);
        rig.dialog->yPositionSpinBox->setValue(height + 5);
        rig.dialog->show();
        rig.settle();
        QCOMPARE(rig.results, 1);
        QCOMPARE(rig.dialog->yPositionSpinBox->value(), height - 1);
        QCOMPARE(T::state(*rig.dialog), T::shownState(width, height, bits));
        QCOMPARE(rig.picture(), runOn<T>(frame, height - 1));

        rig.dialog->hide();
        rig.dialog->setSceneFrame(linesFrame(width, height / 2, bits, gray, 1));
        const Frame latest = linesFrame(width, height / 4 + 1, bits, gray, 2);
        rig.dialog->setSceneFrame(latest);
        QCOMPARE(rig.dialog->yPositionSpinBox->value(), height / 4);
        rig.settle(); // a run started by mistake would be counted now
        QCOMPARE(rig.results, 1);
        rig.dialog->show();
        QVERIFY(rig.waitForResult(1));
        rig.settle();
        QCOMPARE(rig.results, 2);
        QCOMPARE(rig.picture(), runOn<T>(latest, height / 4));
        QCOMPARE(T::state(*rig.dialog), T::shownState(width, height / 4 + 1, bits));
        const QImage lastShown = rig.picture();

        // Clearing waits for the run and frees the picture store; the run's result, arriving
        // afterwards, finds no frame and changes nothing. The next frame draws into a new store.
        const auto gated = boost::make_shared<GatedBuffer>(T::gatedWidth, height / 4 + 1);
        rig.dialog->setSceneFrame(frameOver(gated));
        while (!gated->entered)
            std::this_thread::yield();
        // Clearing first lowers the maximum, which moves the line to 0; the run is let go at
        // that moment, on the GUI thread, just before the dialog must wait for it. (The gated
        // frame keeps the line: a moved line would start a run for the previous frame first.)
        const QMetaObject::Connection release = QObject::connect(rig.dialog->yPositionSpinBox, QOverload<int>::of(&QSpinBox::valueChanged),
                                                                 rig.dialog.get(), [&] { gated->open = true; });
        rig.dialog->setSceneFrame({});
        QObject::disconnect(release);
        QVERIFY(!rig.worker.isRunning() && rig.worker.picture.isNull() && rig.worker.spare.isNull());
        QCOMPARE(T::state(*rig.dialog), T::noBuffer());

        // The line moved by clearing asked for a run of the frame that is gone; none follows.
        const int before = rig.results;
        rig.dialog->hide();
        rig.dialog->show();
        rig.settle();
        QCOMPARE(rig.results, before + 1);
        QCOMPARE(T::state(*rig.dialog), T::noBuffer());
        QCOMPARE(rig.picture(), lastShown);

        const Frame next = linesFrame(50, 2, 8);
        rig.dialog->setSceneFrame(next);
        QVERIFY(rig.waitForResult(rig.results));
        QCOMPARE(rig.picture(), runOn<T>(next, 0));
    });
}

void TestLineToolDialogs::requestDuringRun_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<bool>("closed");   // the dock, closed once the run is under way
    QTest::addColumn<bool>("newFrame"); // another frame handed over during the run
    QTest::addColumn<int>("from");      // the line is changed to from, from + 1, ... line
    QTest::addColumn<int>("line");
    QTest::addColumn<bool>("reopened"); // during the run, else only after it
    for (const char* tool : {"profile", "histogram"}) {
        row(tool, "nothing asked") << false << false << 0 << 0 << false;
        row(tool, "line changed") << false << false << 2 << 2 << false;
        row(tool, "40 line changes") << false << false << 1 << 40 << false;
        row(tool, "frame handed over") << false << true << 0 << 0 << false;
        row(tool, "frame and line") << false << true << 3 << 3 << false;
        row(tool, "dock closed, line changed, reopened") << true << false << 2 << 2 << true;
        row(tool, "dock closed, frame handed over, opened after the run") << true << true << 1 << 1 << false;
    }
}

// What is asked for while a run is in progress is kept: once that run ends, exactly one more
// draws the last frame and line asked for, and not before the dock is open.
void TestLineToolDialogs::requestDuringRun()
{
    forTool([](auto tool) {
        using T = decltype(tool);
        QFETCH(bool, closed); QFETCH(bool, newFrame); QFETCH(int, from); QFETCH(int, line); QFETCH(bool, reopened);
        Rig<T> rig;
        rig.dialog->show();
        const auto gated = boost::make_shared<GatedBuffer>(300, 41);
        fill(*gated, differentLines(8));
        const Frame held = frameOver(gated);
        rig.dialog->setSceneFrame(held);
        while (!gated->entered)
            std::this_thread::yield();
        if (closed)
            rig.dialog->hide();
        const Frame want = newFrame ? linesFrame(300, 41, 8, true, 1) : held;
        if (newFrame)
            rig.dialog->setSceneFrame(want);
        for (int y = from; y <= line; ++y)
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
        QVERIFY(!asked || rig.picture() != runOn<T>(held, 0));
    });
}

// Frames made on a producer thread while the dialog is shown, hidden and cleared and its
// line changes (also past the last line), with the tool's own controls in use; meanwhile
// another thread keeps waiting for the worker.
void TestLineToolDialogs::framesAtFullSpeed()
{
    forTool([](auto tool) {
        using T = decltype(tool);
        Rig<T> rig;
        auto& dialog = *rig.dialog;
        dialog.show();

        // Each result as the dialog took it must be the picture of one whole frame.
        int badPictures = 0;
        QObject::connect(&rig.worker, &QThread::finished, &dialog, [&] {
            const QPixmap& pixmap = T::pixmap(dialog);
            badPictures += !pixmap.isNull() && (pixmap.height() != 256 || (pixmap.width() != T::pictureWidth(640) && pixmap.width() != T::pictureWidth(1000)));
        });
        std::atomic<bool> stop{false};
        std::atomic<int> waits{0};
        std::thread notifier([&] {
            for (; !stop.load(); ++waits)
                dialog.waitForThread(), std::this_thread::yield();
        });
        // The producer's newest frame, fully made before it is handed over; one not taken in
        // time is replaced, as the window keeps only its pending frame.
        std::mutex newestLock;
        Frame newest;
        std::thread producer([&] {
            for (int n = 0; !stop.load(); ++n) {
                Frame frame = streamFrame(n % 200);
                std::lock_guard<std::mutex> lock(newestLock);
                newest.swap(frame);
            }
        });
        auto takeNewest = [&] {
            std::lock_guard<std::mutex> lock(newestLock);
            return std::exchange(newest, Frame());
        };
        for (int taken = 0, step = 0; taken < 200; ++step) {
            QCoreApplication::processEvents();
            // Now and then a run ends and the next starts before its result is delivered, so
            // a result is taken while a later run draws.
            if (step % 5 == 1)
                dialog.waitForThread();
            if (Frame frame = takeNewest()) {
                if (++taken % 37 == 0)
                    dialog.setSceneFrame(Frame()); // as when acquisition restarts
                dialog.setSceneFrame(frame);
            }
            if (step % 7 == 3)
                dialog.yPositionSpinBox->setValue(step / 7 % (streamHeight + 3));
            if (step % 97 == 50 || step % 97 == 60)
                dialog.setVisible(step % 97 == 60);
            T::fiddle(dialog, step);
        }
        stop = true;
        producer.join();
        notifier.join();
        QVERIFY(rig.results > 0 && waits.load() > 0);
        QCOMPARE(badPictures, 0);

        // Quiet again: quick line changes on a long colour line, results taken in between, end
        // with exactly the last one on screen, the worker running at most once more after it.
        dialog.show();
        rig.settle();
        const Frame last = linesFrame(16384, 41, 12, false);
        dialog.setSceneFrame(last);
        for (int y = 1; y <= 40; ++y) {
            dialog.yPositionSpinBox->setValue(y);
            QCoreApplication::processEvents();
        }
        const int before = rig.results;
        rig.settle();
        QVERIFY(rig.results - before <= 2);
        QCOMPARE(rig.picture(), runOn<T>(last, 40));
    });
}

void TestLineToolDialogs::profileDetailViewAndReadout_data()
{
    QTest::addColumn<bool>("gray");
    for (const char* column : {"bits", "samples", "canvasWidth", "zoom", "scroll", "maximum"})
        QTest::addColumn<int>(column);
    QTest::addColumn<QString>("range");
    QTest::addColumn<int>("pointer");
    QTest::addColumn<QString>("readout");
    QTest::addColumn<int>("marker"); // horizontal marker, in buffer values
    QTest::addColumn<int>("level");  // the same on the picture's 8-bit scale

    // Line 1 is read: (x, 1) is 2x + 7 + 5c for channel c, modulo the depth. The
    // pointer's sample follows the offset the detail canvas got from the scroll bar. The
    // readout shows raw values; "None" (-1) is scaled like any marker value and stays negative.
    QTest::newRow("4x in between, cut sample") << true << 12 << 2000 << 800 << 4 << 1003 << 7200 << "250|450" << 3
                                               << "Position (X): 251 -> Data (Gray): 509" << -1 << -1;
    QTest::newRow("3x, at the end, truncated") << true << 16 << 2000 << 800 << 3 << 5200 << 5200 << "1733|1999" << 0
                                               << "Position (X): 1733 -> Data (Gray): 3473" << 65535 << 255;
    QTest::newRow("1:1 scrolled to the end") << true << 9 << 2000 << 800 << 1 << 1200 << 1200 << "1200|1999" << 30
                                             << "Position (X): 1230 -> Data (Gray): 419" << 200 << 100;
    QTest::newRow("wider than the line, just past its end") << true << 4 << 2000 << 2100 << 1 << 0 << 0 << "0|1999" << 2000 << "No Data" << 15 << 240;
    QTest::newRow("colour 2x") << false << 8 << 1000 << 2000 << 2 << 0 << 0 << "0|999" << 401 << "Position (X): 200 -> Data (R,G,B): (151,156,161)" << 255 << 255;
    QTest::newRow("1 bit") << true << 1 << 1000 << 2000 << 1 << 0 << 0 << "0|999" << 1 << "Position (X): 1 -> Data (Gray): 1" << -1 << -128;
}

void TestLineToolDialogs::profileDetailViewAndReadout()
{
    QFETCH(bool, gray); QFETCH(int, bits); QFETCH(int, samples); QFETCH(int, canvasWidth); QFETCH(int, zoom); QFETCH(int, scroll);
    QFETCH(int, maximum); QFETCH(QString, range); QFETCH(int, pointer); QFETCH(QString, readout); QFETCH(int, marker); QFETCH(int, level);

    Rig<ProfileTool> rig;
    Qt4LineProfileDialog& dialog = *rig.dialog;
    QVERIFY(rig.showWith(linesFrame(samples, 3, bits, gray), 1));
    QVERIFY(setOverviewWidth(dialog, canvasWidth));
    // The run after the resize scales the overview for the new width, pixel for pixel as the
    // canvas would.
    for (int y : {2, 1}) {
        const int before = rig.results;
        dialog.yPositionSpinBox->setValue(y);
        QVERIFY(rig.waitForResult(before));
        QCOMPARE(vexo::core::LineProfileCanvasInspector::d(*dialog.profileOverviewWidget).fittedPixmap.toImage(),
                 LineProfileInspector::d(&dialog).pixmap.scaled(dialog.profileOverviewWidget->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation).toImage());
    }
    dialog.zoomSpinBox->setValue(zoom);
    QScrollBar* const bar = dialog.profileDetailScrollBar;
    QCOMPARE(QList<int>({bar->minimum(), bar->maximum(), bar->pageStep()}), QList<int>({0, maximum, canvasWidth}));
    bar->setValue(scroll);
    QCOMPARE(dialog.minXLabel->text() + '|' + dialog.maxXLabel->text(), QStringLiteral("     \n") + range);

    movePointer(dialog.profileDetailWidget, pointer);
    QCOMPARE(dialog.positionLabel->text(), readout);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(dialog.profileDetailWidget, &leave);
    QCOMPARE(dialog.positionLabel->text(), QStringLiteral("No Data"));

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
