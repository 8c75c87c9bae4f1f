// The line profile dialog: states, ranges and labels, marker scaling, the readout, and the
// hand-over of requests to the worker (deferral while hidden, clearing during a run).

#include "LineProfileInspector.h"
#include "ProfileReference.h"
#include "QuietOffscreen.h"

#include <QDockWidget>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::LineProfileInspector;
using vexo::core::Qt4LineProfileDialog;
using vexo::core::Qt4LineProfileThread;
using namespace profiletest;

namespace {

boost::shared_ptr<DisplaySceneFrame> rampFrame(int width, int height, int bpp)
{
    const std::uint64_t top = (std::uint64_t(1) << bpp) - 1;
    return frameOf(grayBuffer(width, height, bpp, [=](int x, int y) {
        return std::uint64_t(x * 7 + y * 3) % (top + 1);
    }));
}

boost::shared_ptr<DisplaySceneFrame> colorFrame(int width, int height)
{
    boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(width, height, 8, false));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            buffer->setPixelValueColor(x, y, x % 256, (2 * x) % 256, y);
    buffer->setComplete();
    return frameOf(buffer);
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

void movePointer(QWidget* widget, int x)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 10), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

// Counts the worker's results on the GUI thread. Connected after the dialog's own
// connection, so when the count moves the dialog has taken that result.
struct ResultCounter
{
    int count = 0;
    QMetaObject::Connection connection;

    explicit ResultCounter(Qt4LineProfileDialog* dialog)
    {
        connection = QObject::connect(LineProfileInspector::worker(dialog), &QThread::finished,
                                      dialog, [this] { ++count; });
    }
    ~ResultCounter() { QObject::disconnect(connection); }
};

// A shown dialog with the first result for `frame` on screen.
struct Shown
{
    std::unique_ptr<Qt4LineProfileDialog> dialog{new Qt4LineProfileDialog(nullptr)};
    Qt4LineProfileThread* worker = LineProfileInspector::worker(dialog.get());
    ResultCounter results{dialog.get()};

    bool showWith(const boost::shared_ptr<DisplaySceneFrame>& frame)
    {
        dialog->show();
        const int before = results.count;
        dialog->setSceneFrame(frame);
        return waitForResult(before);
    }
    // Waits until a run after `before` has ended and the dialog has taken its result.
    bool waitForResult(int before)
    {
        return QTest::qWaitFor([&] { return results.count > before; })
               && dialog->overviewStackedWidget->currentIndex() == 1;
    }
};

} // namespace

class TestLineProfileDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { dropOffscreenSizeHintWarnings(); }
    void newDialogShowsNoBuffer();
    void frameSetsRangesAndShowsProfile_data();
    void frameSetsRangesAndShowsProfile();
    void pixmapDoesNotShareWorkerStore();
    void viewRangesAndLabels_data();
    void viewRangesAndLabels();
    void horizontalMarkerScaled_data();
    void horizontalMarkerScaled();
    void readout_data();
    void readout();
    void hiddenDialogDefersUntilShown();
    void emptyFrameDuringRun();
    void resizeAfterEmptyFrameCollapsesRange();
};

void TestLineProfileDialog::newDialogShowsNoBuffer()
{
    Qt4LineProfileDialog dialog(nullptr);
    QCOMPARE(dialog.overviewStackedWidget->currentIndex(), 0);
    QCOMPARE(dialog.detailStackedWidget->currentIndex(), 0);
    QCOMPARE(dialog.positionLabel->text(), QStringLiteral("No Data"));
    QCOMPARE(dialog.minXLabel->text(), QStringLiteral("-"));
    QCOMPARE(dialog.maxXLabel->text(), QStringLiteral("-"));
    for (QWidget* off : std::initializer_list<QWidget*>{dialog.positionLabel, dialog.minXLabel,
                                                       dialog.lineProfileControlsGroupBox,
                                                       dialog.yPositionSpinBox})
        QVERIFY2(!off->isEnabled(), qPrintable(off->objectName()));
    QCOMPARE(dialog.verticalMarkerSpinBox->text(), QStringLiteral("None"));
    QCOMPARE(dialog.horizontalMarkerSpinBox->maximum(), -1);
}

void TestLineProfileDialog::frameSetsRangesAndShowsProfile_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bpp");

    QTest::newRow("8 bits") << 300 << 20 << 8;
    QTest::newRow("12 bits") << 513 << 7 << 12;
    QTest::newRow("16 bits") << 64 << 2 << 16;
    QTest::newRow("3 bits") << 40 << 2 << 3;
}

void TestLineProfileDialog::frameSetsRangesAndShowsProfile()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, bpp);

    Shown shown;
    boost::shared_ptr<DisplaySceneFrame> frame = rampFrame(width, height, bpp);
    QVERIFY(shown.showWith(frame));
    Qt4LineProfileDialog& dialog = *shown.dialog;

    QCOMPARE(dialog.yPositionSpinBox->maximum(), height - 1);
    QCOMPARE(dialog.verticalMarkerSpinBox->maximum(), width - 1);
    QCOMPARE(dialog.horizontalMarkerSpinBox->maximum(), (1 << bpp) - 1);
    QCOMPARE(LineProfileInspector::d(&dialog).bitsPerPixel, bpp);
    QVERIFY(dialog.yPositionSpinBox->isEnabled());
    QVERIFY(dialog.lineProfileControlsGroupBox->isEnabled());
    QVERIFY(dialog.positionLabel->isEnabled());
    QCOMPARE(dialog.detailStackedWidget->currentIndex(), 1);

    const QString difference = firstDifference(LineProfileInspector::d(&dialog).pixmap.toImage(),
                                               expectedPicture(*frame->frameBuffer(), 0));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    // Another line: a new run, a new picture.
    const int before = shown.results.count;
    dialog.yPositionSpinBox->setValue(height - 1);
    QVERIFY(shown.waitForResult(before));
    const QString other = firstDifference(LineProfileInspector::d(&dialog).pixmap.toImage(),
                                          expectedPicture(*frame->frameBuffer(), height - 1));
    QVERIFY2(other.isEmpty(), qPrintable(other));
}

void TestLineProfileDialog::pixmapDoesNotShareWorkerStore()
{
    Shown shown;
    boost::shared_ptr<DisplaySceneFrame> frame = rampFrame(200, 2, 8);
    QVERIFY(shown.showWith(frame));
    {
        // The next run will overwrite the store; the pixmap on screen must not change.
        std::lock_guard<std::mutex> lock(shown.worker->mutex);
        std::fill(shown.worker->buffer, shown.worker->buffer + 200 * 1024, 0xAB);
    }
    const QString difference =
        firstDifference(LineProfileInspector::d(shown.dialog.get()).pixmap.toImage(),
                        expectedPicture(*frame->frameBuffer(), 0));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestLineProfileDialog::viewRangesAndLabels_data()
{
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("canvasWidth");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("scroll");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<QString>("minText");
    QTest::addColumn<QString>("maxText");
    QTest::addColumn<int>("sampleAtLeftEdge");

    const QString blanks = QStringLiteral("     \n");
    QTest::newRow("4x at the end") << 2000 << 800 << 4 << 7200 << 7200 << blanks + "1800" << "1999" << 1800;
    QTest::newRow("4x at the start") << 2000 << 800 << 4 << 0 << 7200 << blanks + "0" << "200" << 0;
    QTest::newRow("4x in between") << 2000 << 800 << 4 << 1003 << 7200 << blanks + "250" << "450" << 250;
    QTest::newRow("3x truncated") << 2000 << 800 << 3 << 5200 << 5200 << blanks + "1733" << "1999" << 1733;
    QTest::newRow("1:1 scrolled to the end") << 2000 << 800 << 1 << 1200 << 1200 << blanks + "1200" << "1999" << 1200;
    QTest::newRow("1:1 wider than the line") << 2000 << 2100 << 1 << 0 << 0 << blanks + "0" << "1999" << 0;
}

void TestLineProfileDialog::viewRangesAndLabels()
{
    QFETCH(int, samples);
    QFETCH(int, canvasWidth);
    QFETCH(int, zoom);
    QFETCH(int, scroll);
    QFETCH(int, maximum);
    QFETCH(QString, minText);
    QFETCH(QString, maxText);
    QFETCH(int, sampleAtLeftEdge);

    Shown shown;
    QVERIFY(shown.showWith(rampFrame(samples, 1, 8)));
    Qt4LineProfileDialog& dialog = *shown.dialog;
    QVERIFY(setOverviewWidth(dialog, canvasWidth));

    dialog.zoomSpinBox->setValue(zoom);
    QCOMPARE(dialog.profileDetailScrollBar->minimum(), 0);
    QCOMPARE(dialog.profileDetailScrollBar->maximum(), maximum);
    QCOMPARE(dialog.profileDetailScrollBar->pageStep(), canvasWidth);

    dialog.profileDetailScrollBar->setValue(scroll);
    QCOMPARE(dialog.minXLabel->text(), minText);
    QCOMPARE(dialog.maxXLabel->text(), maxText);

    // The detail canvas got the same offset: its left column shows the first sample.
    movePointer(dialog.profileDetailWidget, 0);
    QVERIFY2(dialog.positionLabel->text().startsWith(
                 QStringLiteral("Position (X): %1 -> ").arg(sampleAtLeftEdge)),
             qPrintable(dialog.positionLabel->text()));
}

void TestLineProfileDialog::horizontalMarkerScaled_data()
{
    QTest::addColumn<int>("bpp");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("level");

    QTest::newRow("10 bits") << 10 << 200 << 50;
    QTest::newRow("10 bits, top") << 10 << 1023 << 255;
    QTest::newRow("8 bits") << 8 << 200 << 200;
    QTest::newRow("16 bits") << 16 << 65535 << 255;
    QTest::newRow("4 bits") << 4 << 15 << 240;
    QTest::newRow("none on 12 bits") << 12 << -1 << -1;
    QTest::newRow("none on 4 bits") << 4 << -1 << -16;
    QTest::newRow("none on 1 bit") << 1 << -1 << -128;
}

void TestLineProfileDialog::horizontalMarkerScaled()
{
    QFETCH(int, bpp);
    QFETCH(int, value);
    QFETCH(int, level);

    Shown shown;
    QVERIFY(shown.showWith(rampFrame(32, 1, bpp)));
    Qt4LineProfileDialog& dialog = *shown.dialog;
    // Move away first so that "None" is a change too.
    dialog.horizontalMarkerSpinBox->setValue(value == -1 ? 1 : -1);
    dialog.horizontalMarkerSpinBox->setValue(value);
    QCOMPARE(LineProfileInspector::d(&dialog).horizontalMarker, level);
}

void TestLineProfileDialog::readout_data()
{
    QTest::addColumn<bool>("gray");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("scroll");
    QTest::addColumn<int>("pointer");
    QTest::addColumn<QString>("text");

    // Gray value of (x, 1) is 7x + 3 (mod 256); colour is (x, 2x, 1) (mod 256).
    QTest::newRow("first column") << true << 1 << 0 << 0 << "Position (X): 0 -> Data (Gray): 3";
    QTest::newRow("1:1") << true << 1 << 0 << 30 << "Position (X): 30 -> Data (Gray): 213";
    QTest::newRow("4x scrolled") << true << 4 << 1002 << 3 << "Position (X): 251 -> Data (Gray): 224";
    QTest::newRow("colour") << false << 1 << 0 << 200 << "Position (X): 200 -> Data (R,G,B): (200,144,1)";
    QTest::newRow("colour 2x") << false << 2 << 0 << 3 << "Position (X): 1 -> Data (R,G,B): (1,2,1)";
    QTest::newRow("past the line") << true << 1 << 0 << 1500 << "No Data";
}

void TestLineProfileDialog::readout()
{
    QFETCH(bool, gray);
    QFETCH(int, zoom);
    QFETCH(int, scroll);
    QFETCH(int, pointer);
    QFETCH(QString, text);

    Shown shown;
    QVERIFY(shown.showWith(gray ? rampFrame(1000, 3, 8) : colorFrame(1000, 3)));
    Qt4LineProfileDialog& dialog = *shown.dialog;
    QVERIFY(setOverviewWidth(dialog, 2000));
    dialog.yPositionSpinBox->setValue(1);
    dialog.zoomSpinBox->setValue(zoom);
    dialog.profileDetailScrollBar->setValue(scroll);

    movePointer(dialog.profileDetailWidget, pointer);
    QCOMPARE(dialog.positionLabel->text(), text);

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(dialog.profileDetailWidget, &leave);
    QCOMPARE(dialog.positionLabel->text(), QStringLiteral("No Data"));
}

void TestLineProfileDialog::hiddenDialogDefersUntilShown()
{
    // The window's set-up: the dialog is the content of a floating dock, closed at first.
    QDockWidget dock;
    dock.setFloating(true);
    Qt4LineProfileDialog* dialog = new Qt4LineProfileDialog(nullptr);
    dock.setWidget(dialog);
    Qt4LineProfileThread* worker = LineProfileInspector::worker(dialog);
    ResultCounter finished(dialog);

    boost::shared_ptr<DisplaySceneFrame> first = rampFrame(100, 8, 8);
    boost::shared_ptr<DisplaySceneFrame> last = colorFrame(120, 8);
    dialog->setSceneFrame(first);
    dialog->yPositionSpinBox->setValue(3);
    dialog->setSceneFrame(last);
    dialog->yPositionSpinBox->setValue(5);
    QCoreApplication::processEvents();

    QVERIFY(!dialog->isVisible());
    QVERIFY(!worker->isRunning() && !worker->isFinished()); // never started
    QVERIFY(worker->startPending);
    QCOMPARE(finished.count, 0);
    // The buffer state begins with the first result, not with the frame.
    QCOMPARE(dialog->overviewStackedWidget->currentIndex(), 0);

    dock.show();
    QTRY_COMPARE(finished.count, 1);
    QTRY_COMPARE(dialog->overviewStackedWidget->currentIndex(), 1);
    QVERIFY(!worker->startPending);
    const QString difference = firstDifference(LineProfileInspector::d(dialog).pixmap.toImage(),
                                               expectedPicture(*last->frameBuffer(), 5));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    // Closed again: the next request waits for the next showing.
    dock.hide();
    dialog->yPositionSpinBox->setValue(2);
    QVERIFY(worker->startPending);
    QCOMPARE(finished.count, 1);
    dock.show();
    QTRY_COMPARE(finished.count, 2);
    dialog->waitForThread();
    QTRY_VERIFY(firstDifference(LineProfileInspector::d(dialog).pixmap.toImage(),
                                expectedPicture(*last->frameBuffer(), 2)).isEmpty());
}

void TestLineProfileDialog::emptyFrameDuringRun()
{
    std::atomic<bool> running{false};
    std::atomic<bool> clearing{false};
    Shown shown;
    Qt4LineProfileDialog& dialog = *shown.dialog;
    dialog.show();

    // started() is emitted on the worker thread just before run(); a direct connection
    // holds the run there until the test is about to clear the dialog.
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
    dialog.setSceneFrame(boost::shared_ptr<DisplaySceneFrame>());
    QObject::disconnect(hold);

    QVERIFY(shown.worker->isFinished());
    QVERIFY(!shown.worker->image);
    QVERIFY(!shown.worker->buffer);
    QCOMPARE(dialog.overviewStackedWidget->currentIndex(), 0);
    QCOMPARE(dialog.detailStackedWidget->currentIndex(), 0);
    QCOMPARE(dialog.minXLabel->text(), QStringLiteral("-"));
    QCOMPARE(dialog.maxXLabel->text(), QStringLiteral("-"));
    QVERIFY(!dialog.lineProfileControlsGroupBox->isEnabled());
    QVERIFY(!dialog.yPositionSpinBox->isEnabled());
    QCOMPARE(dialog.verticalMarkerSpinBox->maximum(), -1);

    // The run's finished() arrives afterwards and must not bring the profile back.
    QTRY_COMPARE(shown.results.count, 1);
    QCOMPARE(dialog.overviewStackedWidget->currentIndex(), 0);
    QVERIFY(!dialog.lineProfileControlsGroupBox->isEnabled());

    // A frame after the clearing draws into a new store.
    const int before = shown.results.count;
    boost::shared_ptr<DisplaySceneFrame> next = rampFrame(50, 2, 8);
    dialog.setSceneFrame(next);
    QVERIFY(shown.waitForResult(before));
    QCOMPARE(shown.worker->bufferWidth, 50);
}

void TestLineProfileDialog::resizeAfterEmptyFrameCollapsesRange()
{
    Shown shown;
    QVERIFY(shown.showWith(rampFrame(2000, 1, 8)));
    Qt4LineProfileDialog& dialog = *shown.dialog;
    QVERIFY(setOverviewWidth(dialog, 800));
    dialog.profileDetailScrollBar->setValue(1000);
    QCOMPARE(dialog.profileDetailScrollBar->value(), 1000);

    dialog.setSceneFrame(boost::shared_ptr<DisplaySceneFrame>());
    QCOMPARE(dialog.profileDetailScrollBar->maximum(), 1200); // clearing leaves the view
    const int narrower = dialog.width() - 100;
    dialog.resize(narrower, dialog.height());
    QTRY_COMPARE(dialog.width(), narrower);
    QCOMPARE(dialog.profileDetailScrollBar->maximum(), 0);
    QCOMPARE(dialog.profileDetailScrollBar->value(), 0);
    QCOMPARE(dialog.minXLabel->text(), QStringLiteral("-"));
    QCOMPARE(dialog.maxXLabel->text(), QStringLiteral("-"));
}

QTEST_MAIN(TestLineProfileDialog)
#include "tst_line_profile_dialog.moc"
