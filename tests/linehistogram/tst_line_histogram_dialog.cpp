// The line histogram dialog and its canvas: the canvas's stretching and clearing, the
// dialog's states, the hand-over of requests to the worker while it is shown or hidden,
// clearing during a run, and frames at full speed from a producer thread with a second
// thread waiting for the worker as the scene does. Meant to run under ThreadSanitizer too.

#include "HistogramTestSupport.h"

#include <QDockWidget>
#include <QtTest>

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
    Qt4LineHistogramThread& worker = *LineHistogramInspector::d(dialog).thread;
    QObject receiver;
    int finishedRuns = 0;
    QMetaObject::Connection counting = QObject::connect(&worker, &QThread::finished, &receiver, [this] { ++finishedRuns; });
    Tool() { dock.setFloating(true), dock.setWidget(dialog); }

    // Until no run is in progress and every result has reached the GUI thread; a run's
    // finished() is posted before wait() returns.
    void settle()
    {
        do {
            dialog->waitForThread();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        } while (worker.isRunning());
    }
    QVector<std::uint32_t> shown() { return wordsOf(LineHistogramInspector::d(dialog).pixmap.toImage()); }
    QVector<std::uint32_t> onCanvas() { return wordsOf(LineHistogramInspector::d(dialog->histogramWidget).pixmap.toImage()); }
    QString state()
    {
        return QStringLiteral("page %1, line %2 %3, maximum %4, canvas %5").arg(dialog->stackedWidget->currentIndex())
            .arg(dialog->yPositionSpinBox->isEnabled()).arg(dialog->yPositionLabel->isEnabled())
            .arg(dialog->yPositionSpinBox->maximum()).arg(onCanvas().size());
    }
};
const QString noBuffer = QStringLiteral("page 0, line 0 0, maximum 0, canvas 0");

// Every line different, so the picture tells which line was read.
Frame linesFrame(int width, int height, int bits = 8, int seed = 0)
{
    return frameOf(width, height, bits, true, [=](int x, int y, int) { return std::uint64_t((x * (y + 1 + seed) + 7 * y) % (1 << bits)); });
}

constexpr int streamHeight = 24;

// Producer thread: a fresh buffer per frame, gray and colour of several depths in turn.
Frame producedFrame(int n)
{
    const int bits = std::vector<int>{8, 12, 4, 10, 16}[n % 5];
    return frameOf(2048, streamHeight, bits, n % 3 != 0, [=](int x, int y, int c) {
        return std::uint64_t(((3 * x + c) * (y + 3) + n * 17) & ((1 << bits) - 1));
    });
}

} // namespace

class TestLineHistogramDialog : public QObject
{
    Q_OBJECT

private slots:
    void canvas_data();
    void canvas();
    void lineSelectionAndDeferral();
    void emptyFrameDuringRun();
    void framesAtFullSpeed();
};

void TestLineHistogramDialog::canvas_data()
{
    QTest::addColumn<QSize>("first"); // when the picture arrives
    QTest::addColumn<QSize>("size");  // when it is painted
    QTest::addColumn<bool>("cleared");
    QTest::newRow("uneven") << QSize(300, 170) << QSize(300, 170) << false;
    QTest::newRow("resized afterwards") << QSize(256, 256) << QSize(333, 411) << false;
    // A resize without a picture has nothing to scale.
    QTest::newRow("cleared, then resized") << QSize(64, 32) << QSize(80, 40) << true;
}

// Nearest-pixel stretching to the canvas size, also after a resize; every pixel of the
// picture has its own colour, so a shifted or smoothed copy shows. A new picture marks the
// whole widget for the next paint.
void TestLineHistogramDialog::canvas()
{
    QFETCH(QSize, first); QFETCH(QSize, size); QFETCH(bool, cleared);
    QImage pattern(256, 256, QImage::Format_RGB32);
    for (int r = 0; r < 256; ++r)
        for (int b = 0; b < 256; ++b)
            pattern.setPixel(b, r, qRgb(b, r, (b * 7 + r * 3) & 0xff));
    QWidget host; // a shown parent, where a resize reaches the canvas at once
    host.resize(600, 600);
    auto* canvas = new Qt4LineHistogramCanvas(&host);
    canvas->resize(first);
    host.show();
    auto& d = LineHistogramInspector::d(canvas);
    QPixmap picture = QPixmap::fromImage(pattern);
    canvas->setPixmap(&picture);
    picture = QPixmap(); // the canvas keeps its own copy
    canvas->grab();
    QVERIFY(!d.dirty);
    canvas->setPixmap(cleared ? nullptr : &d.pixmap);
    QCOMPARE(d.dirty, !cleared);
    canvas->resize(size);
    const QRgb background = canvas->palette().color(canvas->backgroundRole()).rgb() & 0xFFFFFFu;
    const QVector<std::uint32_t> want = cleared ? QVector<std::uint32_t>(size.width() * size.height(), background)
        : wordsOf(QPixmap::fromImage(pattern).scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation).toImage());
    QCOMPARE(wordsOf(canvas->grab().toImage()), want);
    QVERIFY(!d.dirty);
}

// The line follows the buffer's height; with the dock closed nothing runs, and opening it
// runs once, for the latest frame and line.
void TestLineHistogramDialog::lineSelectionAndDeferral()
{
    Tool tool;
    QCOMPARE(tool.state(), noBuffer);
    tool.dock.show();
    const Frame frame = linesFrame(300, 40);
    tool.dialog->setSceneFrame(frame);
    tool.settle();
    QCOMPARE(tool.finishedRuns, 1);
    const QVector<std::uint32_t> lineZero = runOn(frame, 0);
    QCOMPARE(tool.state(), QStringLiteral("page 1, line 1 1, maximum 39, canvas %1").arg(lineZero.size()));
    QCOMPARE(tool.onCanvas(), lineZero);

    // The picture shown is a copy: the run for the new line has overwritten the worker's
    // store, and its result is not yet delivered.
    tool.dialog->yPositionSpinBox->setValue(40);
    tool.dialog->waitForThread();
    QCOMPARE(tool.shown(), lineZero);
    QCOMPARE(tool.onCanvas(), lineZero);
    tool.settle();
    QCOMPARE(tool.dialog->yPositionSpinBox->value(), 39);
    QCOMPARE(tool.shown(), runOn(frame, 39));

    // Hidden, smaller frames lower the maximum, which moves the line at once; the requests
    // wait for the dock to open.
    tool.dock.hide();
    tool.dialog->setSceneFrame(linesFrame(300, 20, 8, 1));
    const Frame latest = linesFrame(300, 10, 8, 2);
    tool.dialog->setSceneFrame(latest);
    QCOMPARE(tool.dialog->yPositionSpinBox->value(), 9);
    tool.settle();
    QCOMPARE(tool.finishedRuns, 2);
    tool.dock.show();
    tool.settle();
    QCOMPARE(tool.finishedRuns, 3);
    QCOMPARE(tool.shown(), runOn(latest, 9));

    // Showing again with nothing pending starts nothing.
    tool.dock.hide();
    tool.dock.show();
    tool.settle();
    QCOMPARE(tool.finishedRuns, 3);
}

// Clearing waits for the run and frees the picture store; the run's result, arriving
// afterwards, finds no frame and changes nothing.
void TestLineHistogramDialog::emptyFrameDuringRun()
{
    Tool tool;
    tool.dock.show();
    tool.dialog->setSceneFrame(linesFrame(64, 4));
    tool.dialog->yPositionSpinBox->setValue(2);
    tool.settle();
    const QVector<std::uint32_t> lastShown = tool.shown();

    // Long enough a line that the released run is still counting when clearing begins.
    const auto gated = boost::make_shared<GatedBuffer>(500000, 4);
    tool.dialog->setSceneFrame(frameOver(gated));
    while (!gated->entered)
        std::this_thread::yield();
    // Clearing first lowers the maximum, which moves the line to 0; the run is let go at that
    // moment, on the GUI thread, just before the dialog must wait for it.
    QObject::connect(tool.dialog->yPositionSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), &tool.receiver,
                     [&] { gated->open = true; });
    tool.dialog->setSceneFrame({});
    QVERIFY(!tool.worker.isRunning() && !tool.worker.image && !tool.worker.buffer);
    QCOMPARE(tool.state(), noBuffer);

    const int before = tool.finishedRuns;
    tool.settle();
    QCOMPARE(tool.finishedRuns, before + 1);
    QCOMPARE(tool.state(), noBuffer);
    QCOMPARE(tool.shown(), lastShown); // left as it was
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
    auto takeNewest = [&] {
        std::lock_guard<std::mutex> lock(newestLock);
        return std::exchange(newest, Frame());
    };
    std::thread invalidator([&] {
        for (; !stop.load(); ++waits)
            tool.dialog->waitForThread(), std::this_thread::yield();
    });
    for (int round = 0, taken = 0; taken < 200; ++round) {
        QCoreApplication::processEvents();
        // Now and then let a run end and start the next before its result is delivered, so a
        // result is taken while a later run draws.
        if (round % 5 == 1)
            tool.dialog->waitForThread();
        if (Frame frame = takeNewest())
            tool.dialog->setSceneFrame(frame), ++taken;
        if (round % 7 == 3)
            tool.dialog->yPositionSpinBox->setValue((round / 7) % (streamHeight + 3));
        if (round % 97 == 50 || round % 97 == 60)
            tool.dock.setVisible(round % 97 == 60);
        if (round % 151 == 75)
            tool.dialog->setSceneFrame({});
    }
    stop = true;
    producer.join();
    invalidator.join();
    QVERIFY(waits.load() > 0);

    // Quiet again: a request on the idle worker is computed from exactly its frame and line.
    tool.dock.show();
    tool.settle();
    const Frame last = producedFrame(9); // colour, 16 bits
    tool.dialog->setSceneFrame(last);
    tool.settle();
    tool.dialog->yPositionSpinBox->setValue(streamHeight - 2);
    tool.settle();
    QVERIFY(tool.finishedRuns > 0 && tool.dialog->stackedWidget->currentIndex() == 1);
    QCOMPARE(tool.shown(), runOn(last, streamHeight - 2));
}

QTEST_MAIN(TestLineHistogramDialog)
#include "tst_line_histogram_dialog.moc"
