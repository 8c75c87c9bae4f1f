// The line profile canvas: the marker columns and the sample under the pointer, the
// overview band and the horizontal markers, as painted.

#include "ProfileTestSupport.h"

#include "lineprofile/Qt4LineProfileCanvas.h"

#include <QPainter>
#include <QSignalSpy>
#include <QtTest>

using profiletest::movePointer;
using vexo::core::Qt4LineProfileCanvas;

class TestLineProfileCanvas : public QObject
{
    Q_OBJECT

private slots:
    void paintedMarks_data();
    void paintedMarks();
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
    QTest::addColumn<QString>("step");

    // The detail view's marker column; the first visible sample may be cut at the left edge.
    const uint half = 0x808000; // yellow at half opacity on black
    QTest::newRow("1:1") << false << 512 << 256 << 10 << 266 << 1 << 15 << -1 << QRect(5, 0, 1, 256) << half << "";
    QTest::newRow("1:1 at the left edge") << false << 512 << 256 << 10 << 266 << 1 << 10 << -1 << QRect(0, 0, 1, 256) << half << "";
    QTest::newRow("4x from the start") << false << 512 << 256 << 0 << 256 << 4 << 1 << -1 << QRect(4, 0, 4, 256) << half << "";
    QTest::newRow("4x no cut, first") << false << 512 << 256 << 8 << 264 << 4 << 2 << -1 << QRect(0, 0, 4, 256) << half << "";
    QTest::newRow("4x cut at the left edge") << false << 512 << 256 << 6 << 262 << 4 << 1 << -1 << QRect(0, 0, 2, 256) << half << "";
    QTest::newRow("4x next after the cut") << false << 512 << 256 << 6 << 262 << 4 << 2 << -1 << QRect(2, 0, 4, 256) << half << "";
    QTest::newRow("3x cut at the left edge") << false << 512 << 256 << 7 << 263 << 3 << 2 << -1 << QRect(0, 0, 2, 256) << half << "";
    QTest::newRow("scrolled out") << false << 512 << 256 << 6 << 262 << 4 << 0 << -1 << QRect() << half << "";
    QTest::newRow("past the right edge") << false << 512 << 256 << 0 << 256 << 4 << 64 << -1 << QRect() << half << "";
    // Horizontal markers: level l in row 256 - l of the detail view, and in row
    // 64 - l / 4 (truncated) of the overview; level 0 falls below both.
    QTest::newRow("detail level 100") << false << 200 << 200 << 0 << 199 << 1 << -1 << 100 << QRect(0, 156, 200, 1) << half << "";
    QTest::newRow("detail level 0") << false << 200 << 200 << 0 << 199 << 1 << -1 << 0 << QRect() << half << "";
    QTest::newRow("overview level 255") << true << 200 << 200 << 0 << 199 << 1 << -1 << 255 << QRect(0, 1, 200, 1) << 0xFFFF00u << "";
    QTest::newRow("overview level 7") << true << 200 << 200 << 0 << 199 << 1 << -1 << 7 << QRect(0, 63, 200, 1) << 0xFFFF00u << "";
    QTest::newRow("overview level 0") << true << 200 << 200 << 0 << 199 << 1 << -1 << 0 << QRect() << 0xFFFF00u << "";
    // The overview band and marker scale with the span the detail view shows (last - first
    // + 1 samples), not with the widget width; at 799 of 1000 the two differ by a pixel.
    QTest::newRow("band scaled with the span") << true << 1000 << 200 << 799 << 999 << 1 << -1 << -1 << QRect(160, 0, 40, 64) << 0x808080u << "";
    QTest::newRow("band 4x") << true << 2000 << 800 << 4000 << 4800 << 4 << -1 << -1 << QRect(400, 0, 80, 64) << 0x808080u << "";
    QTest::newRow("band 3x truncated") << true << 2000 << 800 << 10 << 810 << 3 << -1 << -1 << QRect(1, 0, 106, 64) << 0x808080u << "";
    // The whole line visible: no band, the marker scaled to the widget.
    QTest::newRow("overview marker, whole line visible") << true << 500 << 800 << 0 << 499 << 1 << 250 << -1 << QRect(400, 0, 1, 64) << 0xFFFF00u << "";
    // A new picture at zoom 1 drops the stretch of the old one cached at zoom 4; sample 1 of
    // the new picture is white.
    QTest::newRow("stale stretch") << false << 64 << 256 << 0 << 255 << 4 << -1 << -1 << QRect(4, 0, 4, 256) << 0xFFFFFFu << "stale stretch";
    // Emptied: erased to the background, and a paint still reports the sample under the
    // pointer.
    QTest::newRow("emptied") << false << 64 << 64 << 0 << 63 << 1 << -1 << -1 << QRect(0, 0, 64, 256) << 0u << "emptied";
}

void TestLineProfileCanvas::paintedMarks()
{
    QFETCH(bool, overview); QFETCH(int, samples); QFETCH(int, width); QFETCH(int, offset); QFETCH(int, last); QFETCH(int, zoom); QFETCH(int, vertical); QFETCH(int, horizontal); QFETCH(QRect, marked); QFETCH(uint, colour); QFETCH(QString, step);

    Qt4LineProfileCanvas canvas;
    canvas.resize(width, overview ? 64 : 256);
    canvas.show(); // shown, a grab sends no resize: the picture must fit itself when it arrives
    QPixmap picture(samples, 256);
    picture.fill(Qt::black);
    if (step == QLatin1String("stale stretch")) {
        QPixmap old = picture;
        canvas.setPixmap(&old, false);
        canvas.setAdditionalInfo(4, -1, -1);
        canvas.grab(); // caches the stretch of the old picture at zoom 4
        canvas.setAdditionalInfo(1, -1, -1);
        QPainter(&picture).fillRect(QRect(1, 0, 1, 256), Qt::white);
    }
    canvas.setPixmap(&picture, overview);
    canvas.setXOffset(offset, offset, last);
    canvas.setAdditionalInfo(zoom, vertical, horizontal);
    const bool emptied = step == QLatin1String("emptied");
    if (emptied) {
        movePointer(&canvas, 7);
        canvas.setPixmap(nullptr, false);
        canvas.update();
        colour = canvas.palette().color(canvas.backgroundRole()).rgb() & 0xFFFFFFu;
    }
    QSignalSpy reported(&canvas, SIGNAL(mousePositionChanged(int)));
    const QImage painted = canvas.grab().toImage();
    for (int y = 0; y < painted.height(); ++y)
        for (int x = 0; x < painted.width(); ++x)
            if ((painted.pixel(x, y) & 0xFFFFFFu) != (marked.contains(x, y) ? colour : 0u))
                QFAIL(qPrintable(QStringLiteral("%1,%2: %3").arg(x).arg(y).arg(painted.pixel(x, y), 0, 16)));
    if (emptied)
        QCOMPARE(reported.takeFirst().at(0).toInt(), 7);
    else if (overview || vertical < 0 || marked.isEmpty())
        return;

    // The pointer reports the marked sample exactly over its column, and the neighbouring
    // samples beside it.
    for (int x = qMax(marked.left() - 1, 0); x <= marked.right() + 1 && !emptied; ++x) {
        movePointer(&canvas, x);
        const int sample = vertical + (x < marked.left() ? -1 : x > marked.right() ? 1 : 0);
        QVERIFY2(reported.last().at(0).toInt() == sample, qPrintable(QString::number(x)));
    }
    // Every repaint reports the sample under the pointer again; leaving reports none, and
    // so does every later paint.
    movePointer(&canvas, marked.left() + (emptied ? 7 : 0));
    reported.clear();
    canvas.grab();
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&canvas, &leave);
    canvas.grab();
    QCOMPARE(reported.count(), 3);
    QCOMPARE(reported.at(0).at(0).toInt(), emptied ? 7 : vertical);
    QCOMPARE(reported.at(1).at(0).toInt(), -1);
    QCOMPARE(reported.at(2).at(0).toInt(), -1);
}

QTEST_MAIN(TestLineProfileCanvas)
#include "tst_line_profile_canvas.moc"
