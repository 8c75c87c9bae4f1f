// The line profile canvas: the marker columns and the sample under the pointer, the
// overview band and the horizontal markers, as painted.

#include "lineprofile/Qt4LineProfileCanvas.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSignalSpy>
#include <QtTest>

using vexo::core::Qt4LineProfileCanvas;

namespace {

QPixmap blackPicture(int samples)
{
    QPixmap pixmap(samples, 256);
    pixmap.fill(Qt::black);
    return pixmap;
}

void movePointer(QWidget* widget, int x)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 10), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

QImage paint(QWidget* widget)
{
    return widget->grab().toImage();
}

} // namespace

class TestLineProfileCanvas : public QObject
{
    Q_OBJECT

private slots:
    void paintedMarks_data();
    void paintedMarks();
    void nullPixmapAndLeavingReport();
    void newPictureAtZoomOneIsStretchedAfresh();
};

void TestLineProfileCanvas::paintedMarks_data()
{
    QTest::addColumn<bool>("overview");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("offset"); // also the first visible column
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("vertical");
    QTest::addColumn<int>("horizontal");
    QTest::addColumn<QRect>("marked"); // all of it in `colour`, the rest of the widget black
    QTest::addColumn<uint>("colour");

    // The detail view's marker column; the first visible sample may be cut at the left edge.
    const uint half = 0x808000; // yellow at half opacity on black
    QTest::newRow("1:1") << false << 512 << 256 << 10 << 266 << 1 << 15 << -1 << QRect(5, 0, 1, 256) << half;
    QTest::newRow("1:1 at the left edge") << false << 512 << 256 << 10 << 266 << 1 << 10 << -1 << QRect(0, 0, 1, 256) << half;
    QTest::newRow("4x from the start") << false << 512 << 256 << 0 << 256 << 4 << 1 << -1 << QRect(4, 0, 4, 256) << half;
    QTest::newRow("4x no cut, first") << false << 512 << 256 << 8 << 264 << 4 << 2 << -1 << QRect(0, 0, 4, 256) << half;
    QTest::newRow("4x no cut, third") << false << 512 << 256 << 8 << 264 << 4 << 4 << -1 << QRect(8, 0, 4, 256) << half;
    QTest::newRow("4x cut at the left edge") << false << 512 << 256 << 6 << 262 << 4 << 1 << -1 << QRect(0, 0, 2, 256) << half;
    QTest::newRow("4x next after the cut") << false << 512 << 256 << 6 << 262 << 4 << 2 << -1 << QRect(2, 0, 4, 256) << half;
    QTest::newRow("3x cut at the left edge") << false << 512 << 256 << 7 << 263 << 3 << 2 << -1 << QRect(0, 0, 2, 256) << half;
    QTest::newRow("3x next after the cut") << false << 512 << 256 << 7 << 263 << 3 << 3 << -1 << QRect(2, 0, 3, 256) << half;
    QTest::newRow("scrolled out") << false << 512 << 256 << 6 << 262 << 4 << 0 << -1 << QRect() << half;
    QTest::newRow("past the right edge") << false << 512 << 256 << 0 << 256 << 4 << 64 << -1 << QRect() << half;
    // Horizontal markers: level l in row 256 - l of the detail view, and in row
    // 64 - l / 4 (truncated) of the overview; level 0 falls below both.
    QTest::newRow("detail level 255") << false << 200 << 200 << 0 << 199 << 1 << -1 << 255 << QRect(0, 1, 200, 1) << half;
    QTest::newRow("detail level 100") << false << 200 << 200 << 0 << 199 << 1 << -1 << 100 << QRect(0, 156, 200, 1) << half;
    QTest::newRow("detail level 0") << false << 200 << 200 << 0 << 199 << 1 << -1 << 0 << QRect() << half;
    QTest::newRow("overview level 255") << true << 200 << 200 << 0 << 199 << 1 << -1 << 255 << QRect(0, 1, 200, 1) << 0xFFFF00u;
    QTest::newRow("overview level 128") << true << 200 << 200 << 0 << 199 << 1 << -1 << 128 << QRect(0, 32, 200, 1) << 0xFFFF00u;
    QTest::newRow("overview level 7") << true << 200 << 200 << 0 << 199 << 1 << -1 << 7 << QRect(0, 63, 200, 1) << 0xFFFF00u;
    QTest::newRow("overview level 0") << true << 200 << 200 << 0 << 199 << 1 << -1 << 0 << QRect() << 0xFFFF00u;
    // The overview band and marker scale with the span the detail view shows (last - first
    // + 1 samples), not with the widget width; at 799 of 1000 the two differ by a pixel.
    QTest::newRow("band scaled with the span") << true << 1000 << 200 << 799 << 999 << 1 << -1 << -1 << QRect(160, 0, 40, 64) << 0x808080u;
    QTest::newRow("band 1:1") << true << 2000 << 800 << 1000 << 1800 << 1 << -1 << -1 << QRect(400, 0, 320, 64) << 0x808080u;
    QTest::newRow("band 4x") << true << 2000 << 800 << 4000 << 4800 << 4 << -1 << -1 << QRect(400, 0, 80, 64) << 0x808080u;
    QTest::newRow("band 3x truncated") << true << 2000 << 800 << 10 << 810 << 3 << -1 << -1 << QRect(1, 0, 106, 64) << 0x808080u;
    QTest::newRow("band: whole line visible") << true << 500 << 800 << 0 << 499 << 1 << -1 << -1 << QRect() << 0x808080u;
    QTest::newRow("overview marker, whole line visible") << true << 500 << 800 << 0 << 499 << 1 << 250 << -1 << QRect(400, 0, 1, 64) << 0xFFFF00u;
}

void TestLineProfileCanvas::paintedMarks()
{
    QFETCH(bool, overview);
    QFETCH(int, samples);
    QFETCH(int, width);
    QFETCH(int, offset);
    QFETCH(int, last);
    QFETCH(int, zoom);
    QFETCH(int, vertical);
    QFETCH(int, horizontal);
    QFETCH(QRect, marked);
    QFETCH(uint, colour);

    Qt4LineProfileCanvas canvas;
    canvas.resize(width, overview ? 64 : 256);
    QPixmap picture = blackPicture(samples);
    canvas.setPixmap(&picture, overview);
    canvas.setXOffset(offset, offset, last);
    canvas.setAdditionalInfo(zoom, vertical, horizontal);
    const QImage painted = paint(&canvas);
    for (int y = 0; y < painted.height(); ++y)
        for (int x = 0; x < painted.width(); ++x)
            if ((painted.pixel(x, y) & 0xFFFFFFu) != (marked.contains(x, y) ? colour : 0u))
                QFAIL(qPrintable(QStringLiteral("%1,%2: %3").arg(x).arg(y).arg(painted.pixel(x, y), 0, 16)));
    if (overview || vertical < 0 || marked.isEmpty())
        return;

    // The pointer reports the marked sample exactly over its column, and the neighbouring
    // samples beside it.
    QSignalSpy reported(&canvas, SIGNAL(mousePositionChanged(int)));
    for (int x = qMax(marked.left() - 1, 0); x <= marked.right() + 1; ++x) {
        movePointer(&canvas, x);
        const int sample = vertical + (x < marked.left() ? -1 : x > marked.right() ? 1 : 0);
        QVERIFY2(reported.last().at(0).toInt() == sample, qPrintable(QString::number(x)));
    }
    // Every repaint reports the sample under the pointer again.
    movePointer(&canvas, marked.left());
    const int before = reported.count();
    paint(&canvas);
    QCOMPARE(reported.count(), before + 1);
    QCOMPARE(reported.last().at(0).toInt(), vertical);
}

void TestLineProfileCanvas::nullPixmapAndLeavingReport()
{
    Qt4LineProfileCanvas canvas;
    canvas.resize(64, 256);
    QPixmap white(64, 256);
    white.fill(Qt::white);
    canvas.setPixmap(&white, false);
    canvas.setAdditionalInfo(1, -1, -1);
    QCOMPARE(paint(&canvas).pixel(10, 10) & 0xFFFFFFu, 0xFFFFFFu);

    // Emptied: the canvas is erased, and a paint still reports the sample under the pointer.
    movePointer(&canvas, 7);
    QSignalSpy reported(&canvas, SIGNAL(mousePositionChanged(int)));
    canvas.setPixmap(nullptr, false);
    canvas.update();
    const QRgb background = canvas.palette().color(canvas.backgroundRole()).rgb();
    QCOMPARE(paint(&canvas).pixel(10, 10), background);
    QCOMPARE(reported.count(), 1);
    QCOMPARE(reported.at(0).at(0).toInt(), 7);

    // Leaving reports no sample, and so does every later paint.
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&canvas, &leave);
    paint(&canvas);
    QCOMPARE(reported.count(), 3);
    QCOMPARE(reported.at(1).at(0).toInt(), -1);
    QCOMPARE(reported.at(2).at(0).toInt(), -1);
}

void TestLineProfileCanvas::newPictureAtZoomOneIsStretchedAfresh()
{
    Qt4LineProfileCanvas canvas;
    canvas.resize(256, 256);
    QPixmap before = blackPicture(64);
    canvas.setPixmap(&before, false);
    canvas.setAdditionalInfo(4, -1, -1);
    paint(&canvas); // caches the stretch of the old picture at zoom 4

    canvas.setAdditionalInfo(1, -1, -1);
    QPixmap after = blackPicture(64);
    QPainter(&after).fillRect(QRect(1, 0, 1, 256), Qt::white);
    canvas.setPixmap(&after, false);
    canvas.setAdditionalInfo(4, -1, -1);
    const QImage painted = paint(&canvas);
    for (int x = 0; x < 12; ++x)
        QVERIFY2(((painted.pixel(x, 20) & 0xFFFFFFu) != 0) == (x >= 4 && x < 8),
                 qPrintable(QString::number(x)));
}

QTEST_MAIN(TestLineProfileCanvas)
#include "tst_line_profile_canvas.moc"
