// The line profile canvas: the sample under the pointer, the marker columns, the overview
// band and the horizontal markers, as painted.

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

// A pixel of the painted widget that something was drawn on (the pictures are black).
bool marked(const QImage& painted, int x, int y)
{
    return (painted.pixel(x, y) & 0xFFFFFFu) != 0;
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
    void pointerSampleMatchesMarkerColumn_data();
    void pointerSampleMatchesMarkerColumn();
    void leavingReportsNone();
    void markerColumn_data();
    void markerColumn();
    void overviewBand_data();
    void overviewBand();
    void horizontalMarker_data();
    void horizontalMarker();
    void nullPixmapErasesAndReports();
    void newPictureAtZoomOneIsStretchedAfresh();
};

void TestLineProfileCanvas::pointerSampleMatchesMarkerColumn_data()
{
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("sample");

    QTest::newRow("1:1 first column") << 1 << 0 << 0 << 0;
    QTest::newRow("1:1 scrolled") << 1 << 37 << 5 << 42;
    QTest::newRow("4x first of sample 0") << 4 << 0 << 0 << 0;
    QTest::newRow("4x last of sample 0") << 4 << 0 << 3 << 0;
    QTest::newRow("4x first of sample 1") << 4 << 0 << 4 << 1;
    QTest::newRow("4x last of sample 1") << 4 << 0 << 7 << 1;
    QTest::newRow("4x offset 6, cut sample") << 4 << 6 << 0 << 1;
    QTest::newRow("4x offset 6, cut sample end") << 4 << 6 << 1 << 1;
    QTest::newRow("4x offset 6, next sample") << 4 << 6 << 2 << 2;
    QTest::newRow("4x offset 6, next sample end") << 4 << 6 << 5 << 2;
    QTest::newRow("4x offset 6, third") << 4 << 6 << 6 << 3;
    QTest::newRow("3x offset 7") << 3 << 7 << 1 << 2;
    QTest::newRow("3x offset 7 next") << 3 << 7 << 2 << 3;
}

void TestLineProfileCanvas::pointerSampleMatchesMarkerColumn()
{
    QFETCH(int, zoom);
    QFETCH(int, offset);
    QFETCH(int, x);
    QFETCH(int, sample);

    Qt4LineProfileCanvas canvas;
    canvas.resize(256, 256);
    QPixmap picture = blackPicture(512);
    canvas.setPixmap(&picture, false);
    canvas.setXOffset(offset, offset, offset + 256);
    canvas.setAdditionalInfo(zoom, -1, -1);

    QSignalSpy reported(&canvas, SIGNAL(mousePositionChanged(int)));
    movePointer(&canvas, x);
    QCOMPARE(reported.count(), 1);
    QCOMPARE(reported.at(0).at(0).toInt(), sample);

    // The detail view draws that sample's marker column under the pointer.
    canvas.setAdditionalInfo(zoom, sample, -1);
    const QImage painted = paint(&canvas);
    QVERIFY(marked(painted, x, 100));
    // And every repaint reports the sample under the pointer again.
    QCOMPARE(reported.last().at(0).toInt(), sample);
}

void TestLineProfileCanvas::leavingReportsNone()
{
    Qt4LineProfileCanvas canvas;
    canvas.resize(256, 256);
    movePointer(&canvas, 12);
    QSignalSpy reported(&canvas, SIGNAL(mousePositionChanged(int)));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&canvas, &leave);
    QCOMPARE(reported.count(), 1);
    QCOMPARE(reported.at(0).at(0).toInt(), -1);
    paint(&canvas);
    QCOMPARE(reported.last().at(0).toInt(), -1);
}

void TestLineProfileCanvas::markerColumn_data()
{
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("marker");
    QTest::addColumn<int>("columnX");
    QTest::addColumn<int>("columnWidth"); // 0: no column

    QTest::newRow("cut at the left edge") << 4 << 6 << 1 << 0 << 2;
    QTest::newRow("next after the cut") << 4 << 6 << 2 << 2 << 4;
    QTest::newRow("scrolled out") << 4 << 6 << 0 << 0 << 0;
    QTest::newRow("no cut, first") << 4 << 8 << 2 << 0 << 4;
    QTest::newRow("no cut, third") << 4 << 8 << 4 << 8 << 4;
    QTest::newRow("1:1") << 1 << 10 << 15 << 5 << 1;
    QTest::newRow("1:1 at the left edge") << 1 << 10 << 10 << 0 << 1;
    QTest::newRow("past the right edge") << 4 << 0 << 64 << 0 << 0;
}

void TestLineProfileCanvas::markerColumn()
{
    QFETCH(int, zoom);
    QFETCH(int, offset);
    QFETCH(int, marker);
    QFETCH(int, columnX);
    QFETCH(int, columnWidth);

    Qt4LineProfileCanvas canvas;
    canvas.resize(256, 256);
    QPixmap picture = blackPicture(512);
    canvas.setPixmap(&picture, false);
    canvas.setXOffset(offset, offset, offset + 256);
    canvas.setAdditionalInfo(zoom, marker, -1);
    const QImage painted = paint(&canvas);

    for (int x = 0; x < 256; ++x) {
        const bool inColumn = x >= columnX && x < columnX + columnWidth;
        QVERIFY2(marked(painted, x, 0) == inColumn, qPrintable(QString::number(x)));
        QVERIFY2(marked(painted, x, 255) == inColumn, qPrintable(QString::number(x)));
    }
    if (columnWidth > 0)
        QCOMPARE(painted.pixel(columnX, 100) & 0xFFFFFFu, 0x808000u);
}

void TestLineProfileCanvas::overviewBand_data()
{
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("bandX");
    QTest::addColumn<int>("bandWidth"); // 0: no band

    // k = 801 / 2000: the band is scaled with the span, not with the widget width.
    QTest::newRow("2000 samples, 1:1") << 2000 << 800 << 1000 << 1000 << 1800 << 1 << 400 << 320;
    QTest::newRow("2000 samples, 4x") << 2000 << 800 << 4000 << 4000 << 4800 << 4 << 400 << 80;
    QTest::newRow("2000 samples, 3x truncated") << 2000 << 800 << 10 << 10 << 810 << 3 << 1 << 106;
    QTest::newRow("whole line visible") << 500 << 800 << 0 << 0 << 499 << 1 << 0 << 0;
}

void TestLineProfileCanvas::overviewBand()
{
    QFETCH(int, samples);
    QFETCH(int, width);
    QFETCH(int, offset);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(int, zoom);
    QFETCH(int, bandX);
    QFETCH(int, bandWidth);

    Qt4LineProfileCanvas canvas;
    canvas.resize(width, 64);
    QPixmap picture = blackPicture(samples);
    canvas.setPixmap(&picture, true);
    canvas.setXOffset(offset, first, last);
    canvas.setAdditionalInfo(zoom, -1, -1);
    const QImage painted = paint(&canvas);

    for (int x = 0; x < width; ++x) {
        const bool inBand = x >= bandX && x < bandX + bandWidth;
        QVERIFY2(marked(painted, x, 0) == inBand, qPrintable(QString::number(x)));
        QVERIFY2(marked(painted, x, 63) == inBand, qPrintable(QString::number(x)));
    }
    if (bandWidth > 0)
        QCOMPARE(painted.pixel(bandX, 30) & 0xFFFFFFu, 0x808080u);
}

void TestLineProfileCanvas::horizontalMarker_data()
{
    QTest::addColumn<bool>("overview");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("row"); // -1: below the widget

    QTest::newRow("detail 255") << false << 255 << 1;
    QTest::newRow("detail 100") << false << 100 << 156;
    QTest::newRow("detail 0") << false << 0 << -1;
    QTest::newRow("overview 255") << true << 255 << 1;
    QTest::newRow("overview 128") << true << 128 << 32;
    QTest::newRow("overview 7 truncated") << true << 7 << 63;
    QTest::newRow("overview 0") << true << 0 << -1;
}

void TestLineProfileCanvas::horizontalMarker()
{
    QFETCH(bool, overview);
    QFETCH(int, level);
    QFETCH(int, row);

    Qt4LineProfileCanvas canvas;
    const int height = overview ? 64 : 256;
    canvas.resize(200, height);
    QPixmap picture = blackPicture(200);
    canvas.setPixmap(&picture, overview);
    canvas.setXOffset(0, 0, 199);
    canvas.setAdditionalInfo(1, -1, level);
    const QImage painted = paint(&canvas);

    for (int y = 0; y < height; ++y)
        QVERIFY2(marked(painted, 50, y) == (y == row), qPrintable(QString::number(y)));
    if (row >= 0)
        QCOMPARE(painted.pixel(50, row) & 0xFFFFFFu, overview ? 0xFFFF00u : 0x808000u);
}

void TestLineProfileCanvas::nullPixmapErasesAndReports()
{
    Qt4LineProfileCanvas canvas;
    canvas.resize(64, 256);
    QPixmap white(64, 256);
    white.fill(Qt::white);
    canvas.setPixmap(&white, false);
    canvas.setAdditionalInfo(1, -1, -1);
    QCOMPARE(paint(&canvas).pixel(10, 10) & 0xFFFFFFu, 0xFFFFFFu);

    movePointer(&canvas, 7);
    QSignalSpy reported(&canvas, SIGNAL(mousePositionChanged(int)));
    canvas.setPixmap(nullptr, false);
    canvas.update();
    const QImage painted = paint(&canvas);
    const QRgb background = canvas.palette().color(canvas.backgroundRole()).rgb();
    QCOMPARE(painted.pixel(10, 10), background);
    QCOMPARE(reported.count(), 1);
    QCOMPARE(reported.at(0).at(0).toInt(), 7);
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
    {
        QPainter p(&after);
        p.fillRect(QRect(1, 0, 1, 256), Qt::white);
    }
    canvas.setPixmap(&after, false);
    canvas.setAdditionalInfo(4, -1, -1);
    const QImage painted = paint(&canvas);
    for (int x = 0; x < 12; ++x)
        QVERIFY2(marked(painted, x, 20) == (x >= 4 && x < 8), qPrintable(QString::number(x)));
}

QTEST_MAIN(TestLineProfileCanvas)
#include "tst_line_profile_canvas.moc"
