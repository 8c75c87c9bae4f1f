// The line profile dialog: ranges, labels, marker scaling and the readout; the hand-over of
// requests to the worker (deferral while hidden, clearing during a run); and a stream of
// frames at full speed with a second thread waiting for the worker, as the scene's
// notification thread does. Meant to run under ThreadSanitizer too.

#include "ProfileTestSupport.h"

#include <QDockWidget>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace profiletest;

namespace {

// Gray (x, y) is 7x + 3y, colour (x, 2x, y), both modulo the depth.
Frame rampFrame(int width, int height, int bpp, bool gray = true)
{
    return frameOf(width, height, bpp, gray, [=](int x, int y, int c) {
        return std::uint64_t(gray ? x * 7 + y * 3 : c == 0 ? x : c == 1 ? 2 * x % 256 : y) % (std::uint64_t(1) << bpp);
    });
}

// Makes the overview canvas exactly `width` pixels wide by widening the dialog.
bool setOverviewWidth(Qt4LineProfileDialog& dialog, int width)
{
    for (int attempt = 0; attempt < 3 && dialog.profileOverviewWidget->width() != width; ++attempt) {
        dialog.resize(dialog.width() + width - dialog.profileOverviewWidget->width(),
                      dialog.height());
        QCoreApplication::processEvents();
    }
    return dialog.profileOverviewWidget->width() == width;
}

// Pages, range labels, what is enabled (readout, range, controls, line) and the line and
// marker maxima.
QString viewState(Qt4LineProfileDialog& dialog)
{
    return QStringLiteral("pages %1 %2, labels %3 %4, enabled %5%6%7%8, maxima %9 %10 %11")
        .arg(dialog.overviewStackedWidget->currentIndex()).arg(dialog.detailStackedWidget->currentIndex())
        .arg(dialog.minXLabel->text().trimmed(), dialog.maxXLabel->text())
        .arg(dialog.positionLabel->isEnabled()).arg(dialog.minXLabel->isEnabled())
        .arg(dialog.lineProfileControlsGroupBox->isEnabled()).arg(dialog.yPositionSpinBox->isEnabled())
        .arg(dialog.yPositionSpinBox->maximum()).arg(dialog.verticalMarkerSpinBox->maximum())
        .arg(dialog.horizontalMarkerSpinBox->maximum());
}
// At first and after an empty frame.
const QString noBuffer = QStringLiteral("pages 0 0, labels - -, enabled 0000, maxima 0 -1 -1");

constexpr int streamHeight = 16;

// Frame n of the stream: blocks of 20 frames alternate width, depth and gray/colour, so
// the worker's store is remade and its reuse is crossed by width changes.
Frame streamFrame(int n)
{
    const int block = n / 20;
    const int bpp = block % 3 == 0 ? 8 : 12;
    return frameOf(block % 2 ? 1000 : 640, streamHeight, bpp, block % 4 != 3, [=](int x, int y, int c) {
        return std::uint64_t((x + c) * 13 + y * 101 + n * 7) % (1u << bpp);
    });
}

} // namespace

class TestLineProfileDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { dropOffscreenSizeHintWarnings(); }
    void frameSetsRangesMarkerAndPicture_data();
    void frameSetsRangesMarkerAndPicture();
    void detailViewRangesAndReadout_data();
    void detailViewRangesAndReadout();
    void hiddenDialogDefersUntilShown();
    void emptyFrameDuringRun();
    void framesAtFullSpeed();
};

void TestLineProfileDialog::frameSetsRangesMarkerAndPicture_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bpp");
    QTest::addColumn<int>("marker"); // horizontal marker, in buffer values
    QTest::addColumn<int>("level");  // the same on the picture's 8-bit scale

    // "None" (-1) is scaled like any value and stays negative.
    QTest::newRow("12 bits, none") << 513 << 7 << 12 << -1 << -1;
    QTest::newRow("16 bits, top") << 64 << 2 << 16 << 65535 << 255;
    QTest::newRow("10 bits") << 40 << 3 << 10 << 200 << 50;
    QTest::newRow("4 bits, top") << 40 << 2 << 4 << 15 << 240;
    QTest::newRow("4 bits, none") << 40 << 2 << 4 << -1 << -16;
    QTest::newRow("1 bit, none") << 40 << 2 << 1 << -1 << -128;
}

void TestLineProfileDialog::frameSetsRangesMarkerAndPicture()
{
    QFETCH(int, width); QFETCH(int, height); QFETCH(int, bpp); QFETCH(int, marker); QFETCH(int, level);

    Shown shown;
    const Frame frame = rampFrame(width, height, bpp);
    QVERIFY(shown.showWith(frame));
    Qt4LineProfileDialog& dialog = *shown.dialog;
    QCOMPARE(viewState(dialog).replace(QRegularExpression("labels \\d+ \\d+"), "labels"),
             QStringLiteral("pages 1 1, labels, enabled 1011, maxima %1 %2 %3").arg(height - 1).arg(width - 1).arg((1 << bpp) - 1));
    QCOMPARE(shown.picture(), runOn(frame, 0));

    // The picture on screen is a copy: the next run overwrites the worker's store.
    {
        std::lock_guard<std::mutex> lock(shown.worker->mutex);
        std::fill(shown.worker->buffer, shown.worker->buffer + width * 256 * 4, 0xAB);
    }
    QCOMPARE(shown.picture(), runOn(frame, 0));

    // Move away first so that "None" is a change too.
    dialog.horizontalMarkerSpinBox->setValue(marker == -1 ? 1 : -1);
    dialog.horizontalMarkerSpinBox->setValue(marker);
    QCOMPARE(LineProfileInspector::d(&dialog).horizontalMarker, level);

    // Another line: a new run, which redraws every pixel of the store.
    const int before = shown.results;
    dialog.yPositionSpinBox->setValue(height - 1);
    QVERIFY(shown.waitForResult(before));
    QCOMPARE(shown.picture(), runOn(frame, height - 1));
}

void TestLineProfileDialog::detailViewRangesAndReadout_data()
{
    QTest::addColumn<bool>("gray");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("canvasWidth");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("scroll");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<QString>("minText");
    QTest::addColumn<QString>("maxText");
    QTest::addColumn<int>("pointer");
    QTest::addColumn<QString>("readout");

    // Line 1 is read: gray (x, 1) is 7x + 3 (mod 256), colour (x, 2x, 1) (mod 256). The
    // pointer's sample follows the offset the detail canvas got from the scroll bar.
    QTest::newRow("4x at the start") << true << 2000 << 800 << 4 << 0 << 7200 << "0" << "200" << 0 << "Position (X): 0 -> Data (Gray): 3";
    QTest::newRow("4x in between, cut sample") << true << 2000 << 800 << 4 << 1003 << 7200 << "250" << "450" << 3 << "Position (X): 251 -> Data (Gray): 224";
    QTest::newRow("4x at the end") << true << 2000 << 800 << 4 << 7200 << 7200 << "1800" << "1999" << 0 << "Position (X): 1800 -> Data (Gray): 59";
    QTest::newRow("3x truncated") << true << 2000 << 800 << 3 << 5200 << 5200 << "1733" << "1999" << 0 << "Position (X): 1733 -> Data (Gray): 102";
    QTest::newRow("1:1 scrolled to the end") << true << 2000 << 800 << 1 << 1200 << 1200 << "1200" << "1999" << 30 << "Position (X): 1230 -> Data (Gray): 165";
    QTest::newRow("1:1 wider than the line, just past its end") << true << 2000 << 2100 << 1 << 0 << 0 << "0" << "1999" << 2000 << "No Data";
    QTest::newRow("colour") << false << 1000 << 2000 << 1 << 0 << 0 << "0" << "999" << 200 << "Position (X): 200 -> Data (R,G,B): (200,144,1)";
    QTest::newRow("colour 2x") << false << 1000 << 2000 << 2 << 0 << 0 << "0" << "999" << 3 << "Position (X): 1 -> Data (R,G,B): (1,2,1)";
}

void TestLineProfileDialog::detailViewRangesAndReadout()
{
    QFETCH(bool, gray); QFETCH(int, samples); QFETCH(int, canvasWidth); QFETCH(int, zoom); QFETCH(int, scroll);
    QFETCH(int, maximum); QFETCH(QString, minText); QFETCH(QString, maxText); QFETCH(int, pointer); QFETCH(QString, readout);

    Shown shown;
    QVERIFY(shown.showWith(rampFrame(samples, 3, 8, gray), 1));
    Qt4LineProfileDialog& dialog = *shown.dialog;
    QVERIFY(setOverviewWidth(dialog, canvasWidth));

    dialog.zoomSpinBox->setValue(zoom);
    QScrollBar* const bar = dialog.profileDetailScrollBar;
    QCOMPARE(QList<int>({bar->minimum(), bar->maximum(), bar->pageStep()}), QList<int>({0, maximum, canvasWidth}));

    dialog.profileDetailScrollBar->setValue(scroll);
    QCOMPARE(dialog.minXLabel->text() + '|' + dialog.maxXLabel->text(), QStringLiteral("     \n") + minText + '|' + maxText);

    movePointer(dialog.profileDetailWidget, pointer);
    QCOMPARE(dialog.positionLabel->text(), readout);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(dialog.profileDetailWidget, &leave);
    QCOMPARE(dialog.positionLabel->text(), QStringLiteral("No Data"));
}

void TestLineProfileDialog::hiddenDialogDefersUntilShown()
{
    // The window's set-up: the dialog is the content of a floating dock, closed at first.
    QDockWidget dock;
    dock.setFloating(true);
    Shown shown; // destroyed first, so it takes the dialog out of the dock
    Qt4LineProfileDialog* dialog = shown.dialog.get();
    dock.setWidget(dialog);

    const Frame first = rampFrame(100, 8, 8);
    const Frame last = rampFrame(120, 8, 8, false);
    dialog->setSceneFrame(first);
    dialog->yPositionSpinBox->setValue(3);
    dialog->setSceneFrame(last);
    dialog->yPositionSpinBox->setValue(5);
    QCoreApplication::processEvents();

    QVERIFY(!dialog->isVisible() && shown.worker->startPending);
    QVERIFY(!shown.worker->isRunning() && !shown.worker->isFinished()); // never started
    QCOMPARE(shown.results, 0);
    // The buffer state begins with the first result, not with the frame.
    QCOMPARE(dialog->overviewStackedWidget->currentIndex(), 0);

    // Shown: one run, for the latest frame and line.
    dock.show();
    QTRY_COMPARE(shown.results, 1);
    QCOMPARE(dialog->overviewStackedWidget->currentIndex(), 1);
    QVERIFY(!shown.worker->startPending);
    QCOMPARE(shown.picture(), runOn(last, 5));

    // Closed again: the next request waits for the next showing.
    dock.hide();
    dialog->yPositionSpinBox->setValue(2);
    QVERIFY(shown.worker->startPending);
    shown.settle(); // a run started by mistake would be counted now
    QCOMPARE(shown.results, 1);
    dock.show();
    QTRY_COMPARE(shown.results, 2);
    QCOMPARE(shown.picture(), runOn(last, 2));
}

void TestLineProfileDialog::emptyFrameDuringRun()
{
    Shown shown;
    Qt4LineProfileDialog& dialog = *shown.dialog;
    QCOMPARE(viewState(dialog), noBuffer);
    QVERIFY(shown.showWith(rampFrame(2000, 1, 8)));
    QVERIFY(setOverviewWidth(dialog, 800));
    dialog.profileDetailScrollBar->setValue(1000);
    QCOMPARE(dialog.profileDetailScrollBar->value(), 1000);

    // started() is emitted on the worker thread just before run(); a direct connection
    // holds the run there until the test is about to clear the dialog.
    std::atomic<bool> running{false};
    std::atomic<bool> clearing{false};
    QMetaObject::Connection hold = QObject::connect(
        shown.worker, &QThread::started, shown.worker,
        [&] {
            running = true;
            while (!clearing.load())
                std::this_thread::yield();
        },
        Qt::DirectConnection);
    dialog.setSceneFrame(rampFrame(4096, 4, 12));
    QTRY_VERIFY(running.load());
    clearing = true;
    // Waits for the run, which draws a wide picture, before the store is freed.
    dialog.setSceneFrame(Frame());
    QObject::disconnect(hold);

    QVERIFY(shown.worker->isFinished() && !shown.worker->image && !shown.worker->buffer);
    QCOMPARE(viewState(dialog), noBuffer);
    QCOMPARE(dialog.profileDetailScrollBar->maximum(), 1200); // clearing leaves the view

    // The run's finished() arrives afterwards and must not bring the profile back.
    const int before = shown.results;
    QTRY_COMPARE(shown.results, before + 1);
    QCOMPARE(viewState(dialog), noBuffer);

    // The next layout of the view has no line to scroll along.
    const int narrower = dialog.width() - 100;
    dialog.resize(narrower, dialog.height());
    QTRY_COMPARE(dialog.width(), narrower);
    QCOMPARE(dialog.profileDetailScrollBar->maximum() + dialog.profileDetailScrollBar->value(), 0);
    QCOMPARE(viewState(dialog), noBuffer);

    // A frame after the clearing draws into a new store.
    dialog.setSceneFrame(rampFrame(50, 2, 8));
    QVERIFY(shown.waitForResult(shown.results));
    QCOMPARE(shown.worker->bufferWidth, 50);
}

// Frames made on a producer thread, y, zoom, marker and scroll changes and pointer moves
// from the test, empty frames now and then, and a thread that keeps waiting for the worker.
void TestLineProfileDialog::framesAtFullSpeed()
{
    Shown shown;
    Qt4LineProfileDialog& dialog = *shown.dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    // Each result as the dialog took it must be the picture of one whole frame.
    int badPictures = 0;
    QObject::connect(shown.worker, &QThread::finished, &dialog, [&] {
        const QPixmap& pixmap = LineProfileInspector::d(&dialog).pixmap;
        if (!pixmap.isNull() && (pixmap.height() != 256
                                 || (pixmap.width() != 640 && pixmap.width() != 1000)))
            ++badPictures;
    });

    std::atomic<bool> stop{false};
    std::atomic<int> waits{0};
    std::thread notifier([&] {
        while (!stop.load()) {
            dialog.waitForThread();
            ++waits;
            std::this_thread::yield();
        }
    });
    // Frames are made on a producer thread and handed over through one slot, in order; the
    // producer waits while it is full. A buffer is never written once handed over.
    std::mutex slotLock;
    std::condition_variable slotTaken;
    Frame slot;
    std::thread producer([&] {
        for (int n = 0; n < 200; ++n) {
            Frame frame = streamFrame(n);
            std::unique_lock<std::mutex> lock(slotLock);
            slotTaken.wait(lock, [&] { return !slot; });
            slot.swap(frame);
        }
    });

    QScrollBar* const scroll = dialog.profileDetailScrollBar;
    for (int taken = 0, step = 0; taken < 200; ++step) {
        QCoreApplication::processEvents();
        Frame frame;
        {
            std::lock_guard<std::mutex> lock(slotLock);
            frame.swap(slot);
        }
        slotTaken.notify_one();
        if (frame) {
            // An empty frame now and then, as when acquisition restarts.
            if (++taken % 37 == 0)
                dialog.setSceneFrame(Frame());
            dialog.setSceneFrame(frame);
        }
        dialog.yPositionSpinBox->setValue(step % streamHeight);
        if (step % 3 == 0)
            dialog.zoomSpinBox->setValue(1 + step % 5);
        if (step % 4 == 0)
            dialog.verticalMarkerSpinBox->setValue(step % 300);
        if (step % 5 == 0)
            dialog.horizontalMarkerSpinBox->setValue(step % 200);
        scroll->setValue(step * 37 % (scroll->maximum() + 1));
        movePointer(dialog.profileDetailWidget, step % 700);
    }
    stop = true;
    producer.join(); // it made all 200 frames, and the loop took them
    notifier.join();
    QVERIFY(shown.results > 0);
    QCOMPARE(badPictures, 0);
    QVERIFY(waits.load() > 0);

    // Quiet again: a request on the idle worker shows exactly its frame and line.
    shown.settle();
    const int line = (dialog.yPositionSpinBox->value() + 5) % streamHeight;
    dialog.yPositionSpinBox->setValue(line);
    shown.settle();
    const Frame last = streamFrame(61); // colour, 1000 wide
    dialog.setSceneFrame(last);
    shown.settle();
    QCOMPARE(shown.picture(), runOn(last, line));
}

QTEST_MAIN(TestLineProfileDialog)
#include "tst_line_profile_dialog.moc"
