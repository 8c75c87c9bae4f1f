// The line histogram dialog: its states, the hand-over of requests to the worker while it
// is shown or hidden, and clearing while a run is in progress.

#include "HistogramTestSupport.h"

#include <QDockWidget>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QStackedWidget>
#include <QtTest>

#include <memory>

using namespace histogramtest;
using vexo::core::LineHistogramInspector;
using vexo::core::Qt4LineHistogramCanvas;
using vexo::core::Qt4LineHistogramDialog;

namespace {

// The dialog in a floating dock, as the display window keeps it; the dock is closed at
// first. Counts the worker's finished() as the GUI thread receives it.
struct Tool
{
    QDockWidget dock;
    Qt4LineHistogramDialog* dialog = new Qt4LineHistogramDialog(nullptr);
    QObject receiver;
    int finishedRuns = 0;

    Tool()
    {
        dock.setFloating(true);
        dock.setWidget(dialog);
        dock.hide();
        QObject::connect(&worker(), &QThread::finished, &receiver, [this] { ++finishedRuns; },
                         Qt::QueuedConnection);
    }

    Qt4LineHistogramThread& worker() { return LineHistogramInspector::worker(dialog); }
    auto& d() { return LineHistogramInspector::d(dialog); }
    auto& canvas() { return LineHistogramInspector::d(dialog->histogramWidget); }

    // Until no run is in progress and every result has reached the GUI thread. A run ends
    // with finished() posted, so after wait() its delivery is already queued.
    void settle()
    {
        do {
            dialog->waitForThread();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        } while (worker().isRunning());
    }

    QVector<std::uint32_t> shownPicture() { return wordsOf(d().pixmap.toImage()); }
    QVector<std::uint32_t> canvasPicture() { return wordsOf(canvas().pixmap.toImage()); }
};

// Every line different, so the picture tells which line was read.
boost::shared_ptr<FrameBuffer> linesBuffer(int width, int height, int bits = 8, int seed = 0)
{
    return grayBuffer(width, height, bits, [=](int x, int y) {
        return std::uint64_t((x * (y + 1 + seed) + 7 * y) % (1 << bits));
    });
}

} // namespace

class TestLineHistogramDialog : public QObject
{
    Q_OBJECT

private slots:
    void startsWithoutBuffer();
    void formProperties();
    void firstResultEntersBufferState();
    void lineSelection_data();
    void lineSelection();
    void smallerFrameMovesLine();
    void requestsWaitWhileHidden();
    void emptyFrameDuringRun();
    void shownPictureIsACopy();
    void resizeStretchesWithoutRun();
};

void TestLineHistogramDialog::startsWithoutBuffer()
{
    Tool tool;
    QCOMPARE(tool.dialog->stackedWidget->currentIndex(), 0);
    QCOMPARE(tool.dialog->label->text(), QStringLiteral("No Buffer Available"));
    QVERIFY(!tool.dialog->yPositionLabel->isEnabled());
    QVERIFY(!tool.dialog->yPositionSpinBox->isEnabled());
    QCOMPARE(tool.dialog->yPositionSpinBox->minimum(), 0);
    QCOMPARE(tool.dialog->yPositionSpinBox->maximum(), 0);
    QCOMPARE(tool.dialog->size(), QSize(640, 480));
    QVERIFY(!tool.d().frame);
    QVERIFY(tool.canvas().pixmap.isNull());
    QVERIFY(!tool.worker().startPending);
    QVERIFY(!tool.worker().isRunning());
}

void TestLineHistogramDialog::formProperties()
{
    Tool tool;
    Qt4LineHistogramDialog* dialog = tool.dialog;
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Line Histogram"));
    QCOMPARE(dialog->groupBox_2->title(), QStringLiteral("Line Histogram"));
    QCOMPARE(dialog->yPositionLabel->text(), QStringLiteral("Y Position:"));
    QCOMPARE(dialog->label->alignment(), Qt::AlignCenter);
    QCOMPARE(dialog->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(dialog->sizePolicy().verticalPolicy(), QSizePolicy::Maximum);
    QCOMPARE(dialog->frame1->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(dialog->frame1->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    QCOMPARE(dialog->page_2->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
    QCOMPARE(dialog->page_2->sizePolicy().verticalPolicy(), QSizePolicy::Maximum);
    QCOMPARE(dialog->stackedWidget->minimumSize(), QSize(256, 256));
    QCOMPARE(dialog->histogramWidget->minimumSize(), QSize(0, 0));
    QCOMPARE(dialog->histogramWidget->maximumSize(), QSize(16777215, 16777215));
    QVERIFY(dynamic_cast<Qt4LineHistogramCanvas*>(dialog->histogramWidget));
    for (QLayout* layout : {static_cast<QLayout*>(dialog->verticalLayout_7), static_cast<QLayout*>(dialog->verticalLayout_4),
                            static_cast<QLayout*>(dialog->verticalLayout_5)}) {
        QCOMPARE(layout->spacing(), 0);
        QCOMPARE(layout->contentsMargins(), QMargins());
    }
    QSpacerItem* spacer = dialog->horizontalSpacer;
    QCOMPARE(spacer->sizeHint(), QSize(40, 20));
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
}

void TestLineHistogramDialog::firstResultEntersBufferState()
{
    Tool tool;
    tool.dock.show();
    const auto buffer = linesBuffer(300, 40);
    tool.dialog->setSceneFrame(frameOver(buffer));

    // Handing the frame over is not yet the buffer state; the first result is.
    QCOMPARE(tool.dialog->yPositionSpinBox->maximum(), 39);
    QCOMPARE(tool.dialog->stackedWidget->currentIndex(), 0);
    QVERIFY(!tool.dialog->yPositionSpinBox->isEnabled());

    tool.settle();
    QCOMPARE(tool.finishedRuns, 1);
    QCOMPARE(tool.dialog->stackedWidget->currentIndex(), 1);
    QVERIFY(tool.dialog->yPositionLabel->isEnabled());
    QVERIFY(tool.dialog->yPositionSpinBox->isEnabled());
    const QVector<std::uint32_t> want = rulePicture(*buffer, 0);
    QVERIFY2(tool.shownPicture() == want, firstDifference(tool.shownPicture(), want).constData());
    QCOMPARE(tool.canvasPicture(), want);
}

void TestLineHistogramDialog::lineSelection_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("line");
    QTest::newRow("first line") << 0 << 0;
    QTest::newRow("inner line") << 17 << 17;
    QTest::newRow("last line") << 39 << 39;
    QTest::newRow("beyond the last line") << 40 << 39;
}

void TestLineHistogramDialog::lineSelection()
{
    QFETCH(int, requested);
    QFETCH(int, line);
    Tool tool;
    tool.dock.show();
    const auto buffer = linesBuffer(300, 40);
    tool.dialog->setSceneFrame(frameOver(buffer));
    tool.settle();
    tool.dialog->yPositionSpinBox->setValue(requested);
    tool.settle();
    QCOMPARE(tool.dialog->yPositionSpinBox->value(), line);
    const QVector<std::uint32_t> want = rulePicture(*buffer, line);
    QVERIFY2(tool.shownPicture() == want, firstDifference(tool.shownPicture(), want).constData());
}

// The lowered maximum moves the value at once, so the worker's line follows the new frame.
void TestLineHistogramDialog::smallerFrameMovesLine()
{
    Tool tool;
    tool.dock.show();
    tool.dialog->setSceneFrame(frameOver(linesBuffer(50, 100)));
    tool.settle();
    tool.dialog->yPositionSpinBox->setValue(80);
    tool.settle();

    const auto smaller = frameOver(linesBuffer(50, 10));
    tool.dialog->setSceneFrame(smaller);
    QCOMPARE(tool.dialog->yPositionSpinBox->value(), 9);
    tool.settle();
    {
        std::lock_guard<std::mutex> lock(tool.worker().requestLock);
        QCOMPARE(tool.worker().yPosition, 9);
        QCOMPARE(tool.worker().frame, smaller);
    }
    QCOMPARE(tool.d().frame, smaller);
}

// With the dock closed nothing runs; opening it runs once, for the latest frame and line.
void TestLineHistogramDialog::requestsWaitWhileHidden()
{
    Tool tool;
    tool.dock.show();
    const auto first = linesBuffer(200, 20);
    tool.dialog->setSceneFrame(frameOver(first));
    tool.settle();
    QCOMPARE(tool.finishedRuns, 1);

    tool.dock.hide();
    tool.dialog->setSceneFrame(frameOver(linesBuffer(200, 20, 8, 1)));
    tool.dialog->yPositionSpinBox->setValue(5);
    const auto latest = linesBuffer(200, 20, 8, 2);
    tool.dialog->setSceneFrame(frameOver(latest));
    tool.settle();
    QCOMPARE(tool.finishedRuns, 1);
    QVERIFY(tool.worker().startPending);
    QCOMPARE(tool.shownPicture(), rulePicture(*first, 0));

    tool.dock.show();
    QVERIFY(!tool.worker().startPending);
    tool.settle();
    QCOMPARE(tool.finishedRuns, 2);
    const QVector<std::uint32_t> want = rulePicture(*latest, 5);
    QVERIFY2(tool.shownPicture() == want, firstDifference(tool.shownPicture(), want).constData());

    // Showing again with nothing pending starts nothing.
    tool.dock.hide();
    tool.dock.show();
    tool.settle();
    QCOMPARE(tool.finishedRuns, 2);
}

// Clearing waits for the run and frees the picture store; the run's result, arriving
// afterwards, finds no frame and changes nothing. The next frame starts over.
void TestLineHistogramDialog::emptyFrameDuringRun()
{
    Tool tool;
    tool.dock.show();
    tool.dialog->setSceneFrame(frameOver(linesBuffer(64, 4)));
    tool.dialog->yPositionSpinBox->setValue(2);
    tool.settle();
    const QVector<std::uint32_t> lastShown = tool.shownPicture();

    // Long enough a line that the released run is still counting when clearing begins.
    const auto gated = boost::make_shared<GatedBuffer>(500000, 4, 8);
    tool.dialog->setSceneFrame(frameOver(gated));
    gated->gate.waitUntilEntered();
    // Clearing first lowers the maximum, which moves the line to 0; the run is let go at
    // that moment, on the GUI thread, just before the dialog must wait for it.
    QObject::connect(tool.dialog->yPositionSpinBox, QOverload<int>::of(&QSpinBox::valueChanged),
                     &tool.receiver, [&] { gated->gate.release(); });
    tool.dialog->setSceneFrame({});

    QVERIFY(!tool.worker().isRunning());
    QVERIFY(!tool.worker().image);
    QVERIFY(!tool.worker().buffer);
    QCOMPARE(tool.dialog->stackedWidget->currentIndex(), 0);
    QVERIFY(!tool.dialog->yPositionSpinBox->isEnabled());
    QVERIFY(!tool.dialog->yPositionLabel->isEnabled());
    QCOMPARE(tool.dialog->yPositionSpinBox->maximum(), 0);
    QVERIFY(tool.canvas().pixmap.isNull());

    const int before = tool.finishedRuns;
    tool.settle();
    QCOMPARE(tool.finishedRuns, before + 1);
    QCOMPARE(tool.dialog->stackedWidget->currentIndex(), 0);
    QVERIFY(tool.canvas().pixmap.isNull());
    QVERIFY(!tool.d().frame);
    QCOMPARE(tool.shownPicture(), lastShown); // left as it was

    const auto next = linesBuffer(90, 6, 10);
    tool.dialog->setSceneFrame(frameOver(next));
    tool.settle();
    QCOMPARE(tool.dialog->stackedWidget->currentIndex(), 1);
    const QVector<std::uint32_t> want = rulePicture(*next, 0);
    QVERIFY2(tool.shownPicture() == want, firstDifference(tool.shownPicture(), want).constData());
}

// The shown picture must not share pixels with the worker's store, which the next run
// overwrites and clearing frees.
void TestLineHistogramDialog::shownPictureIsACopy()
{
    Tool tool;
    tool.dock.show();
    const auto first = linesBuffer(128, 2);
    tool.dialog->setSceneFrame(frameOver(first));
    tool.settle();

    tool.dialog->setSceneFrame(frameOver(grayBuffer(128, 2, 8, [](int, int) { return 3; })));
    tool.dialog->waitForThread(); // the store now holds the new picture, not yet delivered
    QCOMPARE(tool.shownPicture(), rulePicture(*first, 0));
    QCOMPARE(tool.canvasPicture(), rulePicture(*first, 0));

    tool.dialog->setSceneFrame({});
    QCOMPARE(tool.shownPicture(), rulePicture(*first, 0));
    tool.settle();
}

// Resizing stretches the same picture to the new canvas size without computing it again.
void TestLineHistogramDialog::resizeStretchesWithoutRun()
{
    Tool tool;
    tool.dock.show();
    tool.dialog->setSceneFrame(frameOver(linesBuffer(256, 3)));
    tool.settle();
    const int runs = tool.finishedRuns;
    Qt4LineHistogramCanvas* canvas = tool.dialog->histogramWidget;
    const QSize before = canvas->size();

    // The dialog is a child of the dock, so its layout resizes the canvas at once.
    tool.dialog->resize(tool.dialog->size() + QSize(157, 93));
    QVERIFY(canvas->size() != before);
    tool.settle();
    QCOMPARE(tool.finishedRuns, runs);

    const QImage want = tool.d().pixmap.scaled(canvas->size(), Qt::IgnoreAspectRatio,
                                               Qt::FastTransformation).toImage();
    QCOMPARE(wordsOf(canvas->grab().toImage()), wordsOf(want));
}

QTEST_MAIN(TestLineHistogramDialog)
#include "tst_line_histogram_dialog.moc"
