// The line profile dialog: ranges, labels, marker scaling and the readout; the hand-over of
// requests to the worker (deferral while hidden, clearing during a run); and a stream of
// frames at full speed with a second thread waiting for the worker, as the scene's
// notification thread does. Meant to run under ThreadSanitizer too.

#include "ProfileTestSupport.h"

#include <QtTest>

#include <atomic>
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
        dialog.resize(dialog.width() + width - dialog.profileOverviewWidget->width(), dialog.height());
        QCoreApplication::processEvents();
    }
    return dialog.profileOverviewWidget->width() == width;
}

// Pages, range labels, what is enabled (readout, range, controls, line) and the line and marker maxima.
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
const QString noBuffer = QStringLiteral("pages 0 0, labels - -, enabled 0000, maxima 0 -1 -1");

// Frame n of the stream: blocks of 20 frames alternate width, depth and gray/colour, so the
// worker's store is remade and its reuse is crossed by width changes.
Frame streamFrame(int n)
{
    const int block = n / 20, bpp = block % 3 == 0 ? 8 : 12;
    return frameOf(block % 2 ? 1000 : 640, 16, bpp, block % 4 != 3, [=](int x, int y, int c) {
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
    QTest::newRow("9 bits") << 40 << 3 << 9 << 200 << 100;
    QTest::newRow("4 bits, top") << 40 << 2 << 4 << 15 << 240;
    QTest::newRow("1 bit, none") << 40 << 2 << 1 << -1 << -128;
}

// Requests made while the dialog is hidden wait for its showing, and then run once, for the
// latest frame and line.
void TestLineProfileDialog::frameSetsRangesMarkerAndPicture()
{
    QFETCH(int, width); QFETCH(int, height); QFETCH(int, bpp); QFETCH(int, marker); QFETCH(int, level);

    Shown shown;
    Qt4LineProfileDialog& dialog = *shown.dialog;
    const Frame frame = rampFrame(width, height, bpp);
    QVERIFY(shown.showWith(frame, 1));
    shown.settle();
    QCOMPARE(shown.results, 1);
    QCOMPARE(viewState(dialog).replace(QRegularExpression("labels \\d+ \\d+"), "labels"),
             QStringLiteral("pages 1 1, labels, enabled 1011, maxima %1 %2 %3").arg(height - 1).arg(width - 1).arg((1 << bpp) - 1));
    QCOMPARE(shown.picture(), runOn(frame, 1));
    // The picture on screen is a copy: the next run overwrites the worker's store.
    {
        std::lock_guard<std::mutex> lock(shown.worker->mutex);
        std::fill(shown.worker->buffer, shown.worker->buffer + width * 256 * 4, 0xAB);
    }
    QCOMPARE(shown.picture(), runOn(frame, 1));

    // Move away first so that "None" is a change too.
    dialog.horizontalMarkerSpinBox->setValue(marker == -1 ? 1 : -1);
    dialog.horizontalMarkerSpinBox->setValue(marker);
    QCOMPARE(LineProfileInspector::d(&dialog).horizontalMarker, level);

    dialog.hide();
    dialog.yPositionSpinBox->setValue(0);
    shown.settle(); // a run started by mistake would be counted now
    QCOMPARE(shown.results, 1);
    dialog.show();
    QVERIFY(shown.waitForResult(1));
    QCOMPARE(shown.picture(), runOn(frame, 0));
}

void TestLineProfileDialog::detailViewRangesAndReadout_data()
{
    QTest::addColumn<bool>("gray");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("canvasWidth");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("scroll");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<QString>("range");
    QTest::addColumn<int>("pointer");
    QTest::addColumn<QString>("readout");

    // Line 1 is read: gray (x, 1) is 7x + 3 (mod 256), colour (x, 2x, 1) (mod 256). The
    // pointer's sample follows the offset the detail canvas got from the scroll bar.
    QTest::newRow("4x in between, cut sample") << true << 2000 << 800 << 4 << 1003 << 7200 << "250|450" << 3 << "Position (X): 251 -> Data (Gray): 224";
    QTest::newRow("3x, at the end, truncated") << true << 2000 << 800 << 3 << 5200 << 5200 << "1733|1999" << 0 << "Position (X): 1733 -> Data (Gray): 102";
    QTest::newRow("1:1 scrolled to the end") << true << 2000 << 800 << 1 << 1200 << 1200 << "1200|1999" << 30 << "Position (X): 1230 -> Data (Gray): 165";
    QTest::newRow("wider than the line, just past its end") << true << 2000 << 2100 << 1 << 0 << 0 << "0|1999" << 2000 << "No Data";
    QTest::newRow("colour 2x") << false << 1000 << 2000 << 2 << 0 << 0 << "0|999" << 401 << "Position (X): 200 -> Data (R,G,B): (200,144,1)";
}

void TestLineProfileDialog::detailViewRangesAndReadout()
{
    QFETCH(bool, gray); QFETCH(int, samples); QFETCH(int, canvasWidth); QFETCH(int, zoom); QFETCH(int, scroll);
    QFETCH(int, maximum); QFETCH(QString, range); QFETCH(int, pointer); QFETCH(QString, readout);

    Shown shown;
    Qt4LineProfileDialog& dialog = *shown.dialog;
    QVERIFY(shown.showWith(rampFrame(samples, 3, 8, gray), 1));
    QVERIFY(setOverviewWidth(dialog, canvasWidth));
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
}

void TestLineProfileDialog::emptyFrameDuringRun()
{
    Shown shown;
    Qt4LineProfileDialog& dialog = *shown.dialog;
    QCOMPARE(viewState(dialog), noBuffer);
    QVERIFY(shown.showWith(rampFrame(2000, 1, 8)));

    // started() is emitted on the worker thread just before run(); a direct connection holds
    // the run there until the test is about to clear the dialog.
    std::atomic<bool> running{false}, clearing{false};
    QMetaObject::Connection hold = QObject::connect(shown.worker, &QThread::started, shown.worker, [&] {
        for (running = true; !clearing.load();)
            std::this_thread::yield();
    }, Qt::DirectConnection);
    dialog.setSceneFrame(rampFrame(4096, 4, 12));
    QTRY_VERIFY(running.load());
    clearing = true;
    // Waits for the run, which draws a wide picture, before the store is freed.
    dialog.setSceneFrame(Frame());
    QObject::disconnect(hold);
    QVERIFY(shown.worker->isFinished() && !shown.worker->image && !shown.worker->buffer);
    QCOMPARE(viewState(dialog), noBuffer);
    QVERIFY(dialog.profileDetailScrollBar->maximum() > 0); // until the next layout

    // The run's finished() arrives afterwards and must not bring the profile back.
    const int before = shown.results;
    QTRY_COMPARE(shown.results, before + 1);
    QCOMPARE(viewState(dialog), noBuffer);

    // The next layout of the view has no line to scroll along.
    const int narrower = dialog.width() - 100;
    dialog.resize(narrower, dialog.height());
    QTRY_COMPARE(dialog.width(), narrower);
    QCOMPARE(dialog.profileDetailScrollBar->maximum(), 0);

    // A frame after the clearing draws into a new store.
    dialog.setSceneFrame(rampFrame(50, 2, 8));
    QVERIFY(shown.waitForResult(shown.results));
    QCOMPARE(shown.worker->bufferWidth, 50);
}

// Frames made on a producer thread, y, zoom and scroll changes and pointer moves from
// the test, empty frames now and then, and a thread that keeps waiting for the worker.
void TestLineProfileDialog::framesAtFullSpeed()
{
    Shown shown;
    Qt4LineProfileDialog& dialog = *shown.dialog;
    dialog.show();

    // Each result as the dialog took it must be the picture of one whole frame.
    int badPictures = 0;
    QObject::connect(shown.worker, &QThread::finished, &dialog, [&] {
        const QPixmap& pixmap = LineProfileInspector::d(&dialog).pixmap;
        badPictures += !pixmap.isNull() && (pixmap.height() != 256 || (pixmap.width() != 640 && pixmap.width() != 1000));
    });
    std::atomic<bool> stop{false};
    std::atomic<int> waits{0};
    std::thread notifier([&] {
        for (; !stop.load(); ++waits)
            dialog.waitForThread(), std::this_thread::yield();
    });
    // The producer's newest frame, fully made before it is handed over; one not taken in time
    // is replaced, as the window keeps only its pending frame.
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
    QScrollBar* const scroll = dialog.profileDetailScrollBar;
    for (int taken = 0, step = 0; taken < 200; ++step) {
        QCoreApplication::processEvents();
        if (Frame frame = takeNewest()) {
            if (++taken % 37 == 0)
                dialog.setSceneFrame(Frame()); // as when acquisition restarts
            dialog.setSceneFrame(frame);
        }
        dialog.yPositionSpinBox->setValue(step % 16);
        if (step % 3 == 0)
            dialog.zoomSpinBox->setValue(1 + step % 5);
        scroll->setValue(step * 37 % (scroll->maximum() + 1));
        movePointer(dialog.profileDetailWidget, step % 700);
    }
    stop = true;
    producer.join();
    notifier.join();
    QVERIFY(shown.results > 0 && waits.load() > 0);
    QCOMPARE(badPictures, 0);

    // Quiet again: a request on the idle worker shows exactly its frame and line.
    shown.settle();
    const int line = (dialog.yPositionSpinBox->value() + 5) % 16;
    dialog.yPositionSpinBox->setValue(line);
    shown.settle();
    const Frame last = streamFrame(61); // colour, 1000 wide
    dialog.setSceneFrame(last);
    shown.settle();
    QCOMPARE(shown.picture(), runOn(last, line));
}

QTEST_MAIN(TestLineProfileDialog)
#include "tst_line_profile_dialog.moc"
