// The line histogram dialog: its states, the hand-over of requests to the worker while it
// is shown or hidden, clearing while a run is in progress, and frames at full speed from a
// producer thread with a second thread waiting for the worker the way the scene does when
// it invalidates its buffers. Meant to be run under ThreadSanitizer as well.

#include "HistogramTestSupport.h"

#include <QDockWidget>
#include <QSpinBox>
#include <QStackedWidget>
#include <QtTest>

#include <atomic>
#include <mutex>
#include <thread>

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

    // Empty when the tool shows no buffer, else what not.
    QByteArray noBufferDifference()
    {
        if (dialog->stackedWidget->currentIndex() != 0)
            return "the histogram page is shown";
        if (dialog->yPositionSpinBox->isEnabled() || dialog->yPositionLabel->isEnabled())
            return "the line can be chosen";
        if (dialog->yPositionSpinBox->maximum() != 0)
            return "the line range is left";
        return canvas().pixmap.isNull() ? QByteArray() : QByteArray("the canvas keeps a picture");
    }
};

// Every line different, so the picture tells which line was read.
boost::shared_ptr<FrameBuffer> linesBuffer(int width, int height, int bits = 8, int seed = 0)
{
    return makeBuffer(width, height, bits, true, [=](int x, int y) {
        return Rgb{std::uint64_t((x * (y + 1 + seed) + 7 * y) % (1 << bits))};
    });
}

constexpr int streamHeight = 24;

// Producer thread: a fresh buffer per frame, gray and colour of several depths in turn.
Frame producedFrame(int n)
{
    static const int depths[] = {8, 12, 4, 10, 16};
    const int bits = depths[n % 5];
    auto buffer = boost::make_shared<FrameBuffer>(2048, streamHeight, bits, n % 3 != 0);
    const unsigned mask = (1u << bits) - 1;
    for (int y = 0; y < streamHeight; ++y) {
        std::uint16_t* line = buffer->line(y);
        const int samples = 2048 * buffer->channels();
        for (int i = 0; i < samples; ++i)
            line[i] = static_cast<std::uint16_t>((i * (y + 3) + n * 17) & mask);
    }
    buffer->setComplete();
    return frameOver(buffer);
}

} // namespace

class TestLineHistogramDialog : public QObject
{
    Q_OBJECT

private slots:
    void lineSelection_data();
    void lineSelection();
    void requestsWaitWhileHidden();
    void emptyFrameDuringRun();
    void framesAtFullSpeed();
};

void TestLineHistogramDialog::lineSelection_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("nextHeight"); // of the frame after it
    QTest::addColumn<int>("nextLine");
    QTest::newRow("inner line") << 17 << 17 << 40 << 17;
    QTest::newRow("last line") << 39 << 39 << 10 << 9;
    QTest::newRow("beyond the last line") << 40 << 39 << 39 << 38;
}

void TestLineHistogramDialog::lineSelection()
{
    QFETCH(int, requested);
    QFETCH(int, line);
    QFETCH(int, nextHeight);
    QFETCH(int, nextLine);
    Tool tool;
    tool.dock.show();
    tool.settle();
    QCOMPARE(tool.finishedRuns, 0); // nothing to show, nothing run
    QCOMPARE(tool.noBufferDifference(), QByteArray());

    // Handing the frame over is not yet the buffer state; the first result is.
    const auto buffer = linesBuffer(300, 40);
    tool.dialog->setSceneFrame(frameOver(buffer));
    QCOMPARE(tool.dialog->yPositionSpinBox->maximum(), 39);
    QCOMPARE(tool.dialog->stackedWidget->currentIndex(), 0);
    QVERIFY(!tool.dialog->yPositionSpinBox->isEnabled());
    tool.settle();
    QCOMPARE(tool.finishedRuns, 1);
    QCOMPARE(tool.dialog->stackedWidget->currentIndex(), 1);
    QVERIFY(tool.dialog->yPositionLabel->isEnabled());
    QVERIFY(tool.dialog->yPositionSpinBox->isEnabled());
    COMPARE_WORDS(tool.shownPicture(), rulePicture(*buffer, 0));
    COMPARE_WORDS(tool.canvasPicture(), rulePicture(*buffer, 0));

    // The picture shown is a copy: the run for the new line has overwritten the worker's
    // store, and its result is not yet delivered.
    tool.dialog->yPositionSpinBox->setValue(requested);
    tool.dialog->waitForThread();
    QCOMPARE(tool.shownPicture(), rulePicture(*buffer, 0));
    QCOMPARE(tool.canvasPicture(), rulePicture(*buffer, 0));
    tool.settle();
    QCOMPARE(tool.dialog->yPositionSpinBox->value(), line);
    COMPARE_WORDS(tool.shownPicture(), rulePicture(*buffer, line));

    // A smaller frame lowers the maximum, which moves the line at once, so the worker's
    // request is the new frame's line. Only the request is certain: the run for the moved
    // line may take it before the new frame is handed over.
    const Frame next = frameOver(linesBuffer(300, nextHeight, 8, 1));
    tool.dialog->setSceneFrame(next);
    QCOMPARE(tool.dialog->yPositionSpinBox->value(), nextLine);
    tool.settle();
    {
        std::lock_guard<std::mutex> lock(tool.worker().requestLock);
        QCOMPARE(tool.worker().yPosition, nextLine);
        QCOMPARE(tool.worker().frame, next);
    }

    // Resizing stretches the same picture to the new canvas size, computing nothing again.
    // The dialog is a child of the dock, so its layout resizes the canvas at once.
    const int runs = tool.finishedRuns;
    Qt4LineHistogramCanvas* canvas = tool.dialog->histogramWidget;
    const QSize before = canvas->size();
    tool.dialog->resize(tool.dialog->size() + QSize(157, 93));
    QVERIFY(canvas->size() != before);
    tool.settle();
    QCOMPARE(tool.finishedRuns, runs);
    QCOMPARE(wordsOf(canvas->grab().toImage()),
             wordsOf(tool.d().pixmap.scaled(canvas->size(), Qt::IgnoreAspectRatio,
                                            Qt::FastTransformation).toImage()));

    // Clearing frees the worker's store; the shown picture is kept.
    const QVector<std::uint32_t> lastShown = tool.shownPicture();
    tool.dialog->setSceneFrame({});
    COMPARE_WORDS(tool.shownPicture(), lastShown);
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
    COMPARE_WORDS(tool.shownPicture(), rulePicture(*first, 0));

    tool.dock.show();
    QVERIFY(!tool.worker().startPending);
    tool.settle();
    QCOMPARE(tool.finishedRuns, 2);
    COMPARE_WORDS(tool.shownPicture(), rulePicture(*latest, 5));

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
    gated->waitUntilEntered();
    // Clearing first lowers the maximum, which moves the line to 0; the run is let go at
    // that moment, on the GUI thread, just before the dialog must wait for it.
    QObject::connect(tool.dialog->yPositionSpinBox, QOverload<int>::of(&QSpinBox::valueChanged),
                     &tool.receiver, [&] { gated->release(); });
    tool.dialog->setSceneFrame({});

    QVERIFY(!tool.worker().isRunning());
    QVERIFY(!tool.worker().image);
    QVERIFY(!tool.worker().buffer);
    QCOMPARE(tool.noBufferDifference(), QByteArray());

    const int before = tool.finishedRuns;
    tool.settle();
    QCOMPARE(tool.finishedRuns, before + 1);
    QCOMPARE(tool.noBufferDifference(), QByteArray());
    QCOMPARE(tool.shownPicture(), lastShown); // left as it was

    const auto next = linesBuffer(90, 6, 10);
    tool.dialog->setSceneFrame(frameOver(next));
    tool.settle();
    QCOMPARE(tool.dialog->stackedWidget->currentIndex(), 1);
    COMPARE_WORDS(tool.shownPicture(), rulePicture(*next, 0));
}

// Frames from a producer thread while the dialog is shown, hidden and cleared and its line
// changes (also past the last line); meanwhile another thread keeps waiting for the worker.
void TestLineHistogramDialog::framesAtFullSpeed()
{
    Tool tool;
    tool.dock.show();
    // The producer's newest frame; one not taken in time is replaced, as the window keeps
    // only its pending frame.
    std::mutex newestLock;
    Frame newest;
    std::atomic<bool> stop{false};
    std::atomic<int> waits{0};
    std::thread producer([&] {
        for (int n = 0; !stop.load(); ++n) {
            Frame frame = producedFrame(n);
            std::lock_guard<std::mutex> lock(newestLock);
            newest.swap(frame);
        }
    });
    std::thread invalidator([&] {
        while (!stop.load()) {
            tool.dialog->waitForThread();
            ++waits;
            std::this_thread::yield();
        }
    });

    for (int round = 0, taken = 0; taken < 400; ++round) {
        QCoreApplication::processEvents();
        // Now and then let a run end and start the next before its result is delivered,
        // so a result is taken while a later run draws.
        if (round % 5 == 1)
            tool.dialog->waitForThread();
        Frame frame;
        {
            std::lock_guard<std::mutex> lock(newestLock);
            frame.swap(newest);
        }
        if (frame) {
            tool.dialog->setSceneFrame(frame);
            ++taken;
        }
        if (round % 7 == 3)
            tool.dialog->yPositionSpinBox->setValue((round / 7) % (streamHeight + 3));
        if (round % 97 == 50)
            tool.dock.hide();
        if (round % 97 == 60)
            tool.dock.show();
        if (round % 151 == 75)
            tool.dialog->setSceneFrame({});
    }
    stop = true;
    producer.join();
    invalidator.join();
    QVERIFY(waits.load() > 0);

    // Quiet again: the next request is computed from exactly that frame and line.
    tool.dock.show();
    tool.settle();
    QVERIFY(tool.finishedRuns > 0);
    const Frame last = producedFrame(9); // colour, 16 bits
    tool.dialog->setSceneFrame(last);
    tool.dialog->yPositionSpinBox->setValue(streamHeight - 2);
    tool.settle();
    // The line change may have come while the frame's run was in progress; ask once more
    // for certain, now that the worker is idle.
    tool.dialog->setSceneFrame(last);
    tool.settle();
    QCOMPARE(tool.dialog->stackedWidget->currentIndex(), 1);
    COMPARE_WORDS(tool.shownPicture(), rulePicture(*last->frameBuffer(), streamHeight - 2));
}

QTEST_MAIN(TestLineHistogramDialog)
#include "tst_line_histogram_dialog.moc"
