// The line histogram dialog and its canvas: the canvas's stretching and clearing, the
// dialog's states, the hand-over of requests to the worker while it is shown or hidden,
// clearing during a run, and frames at full speed from a producer thread with a second
// thread waiting for the worker as the scene does. Meant to run under ThreadSanitizer too.

#include "HistogramTestSupport.h"

#include <QDockWidget>
#include <QSpinBox>
#include <QStackedWidget>
#include <QtTest>

#include <mutex>

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
    Qt4LineHistogramThread& worker() { return LineHistogramInspector::worker(dialog); }
    QMetaObject::Connection counting = QObject::connect(&worker(), &QThread::finished, &receiver,
                                                        [this] { ++finishedRuns; }, Qt::QueuedConnection);
    Tool() { dock.setFloating(true), dock.setWidget(dialog); }

    // Until no run is in progress and every result has reached the GUI thread; a run's
    // finished() is posted before wait() returns.
    void settle()
    {
        do {
            dialog->waitForThread();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        } while (worker().isRunning());
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
    return frameOver(makeBuffer(width, height, bits, true, [=](int x, int y, int) {
        return std::uint64_t((x * (y + 1 + seed) + 7 * y) % (1 << bits));
    }));
}

constexpr int streamHeight = 24;

// Producer thread: a fresh buffer per frame, gray and colour of several depths in turn.
Frame producedFrame(int n)
{
    const int bits = std::vector<int>{8, 12, 4, 10, 16}[n % 5];
    return frameOver(makeBuffer(2048, streamHeight, bits, n % 3 != 0, [=](int x, int y, int c) {
        return std::uint64_t(((3 * x + c) * (y + 3) + n * 17) & ((1 << bits) - 1));
    }));
}

} // namespace

class TestLineHistogramDialog : public QObject
{
    Q_OBJECT

private slots:
    void canvas_data();
    void canvas();
    void lineSelection_data();
    void lineSelection();
    void requestsWaitWhileHidden();
    void emptyFrameDuringRun();
    void framesAtFullSpeed();
};

void TestLineHistogramDialog::canvas_data()
{
    QTest::addColumn<QSize>("first"); // when the picture arrives
    QTest::addColumn<QSize>("size");  // when it is painted
    QTest::addColumn<bool>("cleared");
    QTest::newRow("1:1") << QSize(256, 256) << QSize(256, 256) << false;
    QTest::newRow("uneven") << QSize(300, 170) << QSize(300, 170) << false;
    QTest::newRow("smaller") << QSize(100, 50) << QSize(100, 50) << false;
    QTest::newRow("one pixel") << QSize(1, 1) << QSize(1, 1) << false;
    QTest::newRow("resized afterwards") << QSize(256, 256) << QSize(333, 411) << false;
    // A resize without a picture has nothing to scale.
    QTest::newRow("cleared, then resized") << QSize(64, 32) << QSize(80, 40) << true;
}

// Nearest-pixel stretching to the canvas size, also after a resize; every pixel of the
// picture has its own colour, so a shifted or smoothed copy shows. The first paint after a
// new picture covers the widget; later ones draw the asked region from the same place.
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

    const QRect region(size.width() / 3, size.height() / 3, size.width() / 3 + 1, size.height() / 4 + 1);
    QImage target(size, QImage::Format_RGB32);
    target.fill(Qt::magenta);
    canvas->render(&target, region.topLeft(), QRegion(region), QWidget::RenderFlags());
    const QVector<std::uint32_t> got = wordsOf(target);
    for (int i = 0; i < got.size(); ++i)
        QVERIFY2(!region.contains(i % size.width(), i / size.width()) || got[i] == want[i], qPrintable(QString::number(i)));
}

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
    QFETCH(int, requested); QFETCH(int, line); QFETCH(int, nextHeight); QFETCH(int, nextLine);
    Tool tool;
    tool.dock.show();
    tool.settle();
    QCOMPARE(tool.finishedRuns, 0); // nothing to show, nothing run
    QCOMPARE(tool.state(), noBuffer);

    // Handing the frame over is not yet the buffer state; the first result is.
    const Frame frame = linesFrame(300, 40);
    tool.dialog->setSceneFrame(frame);
    QCOMPARE(tool.state(), QStringLiteral("page 0, line 0 0, maximum 39, canvas 0"));
    tool.settle();
    QCOMPARE(tool.finishedRuns, 1);
    const QVector<std::uint32_t> lineZero = runOn(frame, 0);
    QCOMPARE(tool.state(), QStringLiteral("page 1, line 1 1, maximum 39, canvas %1").arg(lineZero.size()));
    QCOMPARE(tool.shown(), lineZero);
    QCOMPARE(tool.onCanvas(), lineZero);

    // The picture shown is a copy: the run for the new line has overwritten the worker's
    // store, and its result is not yet delivered.
    tool.dialog->yPositionSpinBox->setValue(requested);
    tool.dialog->waitForThread();
    QCOMPARE(tool.shown(), lineZero);
    QCOMPARE(tool.onCanvas(), lineZero);
    tool.settle();
    QCOMPARE(tool.dialog->yPositionSpinBox->value(), line);
    QCOMPARE(tool.shown(), runOn(frame, line));

    // A smaller frame lowers the maximum, which moves the line at once, so the worker's
    // request is the new frame's line. Only the request is certain: the run for the moved
    // line may take it before the new frame is handed over.
    const Frame next = linesFrame(300, nextHeight, 8, 1);
    tool.dialog->setSceneFrame(next);
    QCOMPARE(tool.dialog->yPositionSpinBox->value(), nextLine);
    tool.settle();
    {
        std::lock_guard<std::mutex> lock(tool.worker().requestLock);
        QCOMPARE(tool.worker().yPosition, nextLine);
        QCOMPARE(tool.worker().frame, next);
    }
    // Clearing frees the worker's store; the shown picture is kept.
    const QVector<std::uint32_t> lastShown = tool.shown();
    tool.dialog->setSceneFrame({});
    QCOMPARE(tool.shown(), lastShown);
}

// With the dock closed nothing runs; opening it runs once, for the latest frame and line.
void TestLineHistogramDialog::requestsWaitWhileHidden()
{
    Tool tool;
    tool.dock.show();
    const Frame first = linesFrame(200, 20);
    tool.dialog->setSceneFrame(first);
    tool.settle();
    QCOMPARE(tool.finishedRuns, 1);

    tool.dock.hide();
    tool.dialog->setSceneFrame(linesFrame(200, 20, 8, 1));
    tool.dialog->yPositionSpinBox->setValue(5);
    const Frame latest = linesFrame(200, 20, 8, 2);
    tool.dialog->setSceneFrame(latest);
    tool.settle();
    QCOMPARE(tool.finishedRuns, 1);
    QVERIFY(tool.worker().startPending);
    QCOMPARE(tool.shown(), runOn(first, 0));

    tool.dock.show();
    QVERIFY(!tool.worker().startPending);
    tool.settle();
    QCOMPARE(tool.finishedRuns, 2);
    QCOMPARE(tool.shown(), runOn(latest, 5));

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
    tool.dialog->setSceneFrame(linesFrame(64, 4));
    tool.dialog->yPositionSpinBox->setValue(2);
    tool.settle();
    const QVector<std::uint32_t> lastShown = tool.shown();

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
    QVERIFY(!tool.worker().image && !tool.worker().buffer);
    QCOMPARE(tool.state(), noBuffer);

    const int before = tool.finishedRuns;
    tool.settle();
    QCOMPARE(tool.finishedRuns, before + 1);
    QCOMPARE(tool.state(), noBuffer);
    QCOMPARE(tool.shown(), lastShown); // left as it was

    const Frame next = linesFrame(90, 6, 10);
    tool.dialog->setSceneFrame(next);
    tool.settle();
    QCOMPARE(tool.dialog->stackedWidget->currentIndex(), 1);
    QCOMPARE(tool.shown(), runOn(next, 0));
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
        for (; !stop.load(); ++waits)
            tool.dialog->waitForThread(), std::this_thread::yield();
    });
    for (int round = 0, taken = 0; taken < 200; ++round) {
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
        if (frame)
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
    QCOMPARE(tool.shown(), runOn(last, streamHeight - 2));
}

QTEST_MAIN(TestLineHistogramDialog)
#include "tst_line_histogram_dialog.moc"
