// The line profile canvas: the marker columns and the sample under the pointer, the
// overview band and the horizontal markers, as painted; the detail view's picture at each
// zoom and scroll position, and the bounded size of what it keeps for it.

#include "LineToolTestSupport.h"

#include <QPainter>
#include <QSignalSpy>
#include <QtTest>

using linetooltest::movePointer;
using vexo::core::Qt4LineProfileCanvas;

class TestLineProfileCanvas : public QObject
{
    Q_OBJECT

private slots:
    void paintedMarks_data();
    void paintedMarks();
    void detailPicture_data();
    void detailPicture();
    void overviewPicture();
};

void TestLineProfileCanvas::paintedMarks_data()
{
    for (const char* column : {"overview", "samples", "width", "offset", "last", "zoom", "vertical", "horizontal"})
        QTest::addColumn<int>(column); // offset is also the first visible column
    QTest::addColumn<QRect>("marked"); // all of it in `colour`, the rest of the widget black
    QTest::addColumn<uint>("colour");
    QTest::addColumn<QString>("step");

    // The detail view's marker column; the first visible sample may be cut at the left edge.
    const uint half = 0x808000; // yellow at half opacity on black
    QTest::newRow("4x cut at the left edge") << 0 << 512 << 256 << 6 << 262 << 4 << 1 << -1 << QRect(0, 0, 2, 256) << half << "";
    QTest::newRow("4x next after the cut") << 0 << 512 << 256 << 6 << 262 << 4 << 2 << -1 << QRect(2, 0, 4, 256) << half << "";
    QTest::newRow("3x cut at the left edge") << 0 << 512 << 256 << 7 << 263 << 3 << 2 << -1 << QRect(0, 0, 2, 256) << half << "";
    // Level l in row 256 - l of the detail view and in row 64 - l / 4 (truncated) of the overview.
    QTest::newRow("detail level 100") << 0 << 200 << 200 << 0 << 199 << 1 << -1 << 100 << QRect(0, 156, 200, 1) << half << "";
    QTest::newRow("overview level 7") << 1 << 200 << 200 << 0 << 199 << 1 << -1 << 7 << QRect(0, 63, 200, 1) << 0xFFFF00u << "";
    // The band and marker scale with the span shown (last - first + 1 samples), not with the
    // widget width; at 799 of 1000 the two differ by a pixel. The whole line visible: no band.
    QTest::newRow("band scaled with the span") << 1 << 1000 << 200 << 799 << 999 << 1 << -1 << -1 << QRect(160, 0, 40, 64) << 0x808080u << "";
    QTest::newRow("band 3x truncated") << 1 << 2000 << 800 << 10 << 810 << 3 << -1 << -1 << QRect(1, 0, 106, 64) << 0x808080u << "";
    QTest::newRow("marker, whole line visible") << 1 << 500 << 800 << 0 << 499 << 1 << 250 << -1 << QRect(400, 0, 1, 64) << 0xFFFF00u << "";
    // A new picture at zoom 1 drops the stretch of the old one cached at zoom 4; sample 1 of
    // the new picture is white.
    QTest::newRow("stale stretch") << 0 << 64 << 256 << 0 << 255 << 4 << -1 << -1 << QRect(4, 0, 4, 256) << 0xFFFFFFu << "stale stretch";
    // A worker's picture shows as drawn.
    QTest::newRow("worker's picture") << 0 << 300 << 300 << 0 << 299 << 1 << -1 << -1 << QRect() << 0u << "worker's picture";
    // Emptied: erased to the background, and a paint still reports the sample under the pointer.
    QTest::newRow("emptied") << 0 << 64 << 64 << 0 << 63 << 1 << -1 << -1 << QRect(0, 0, 64, 256) << 0u << "emptied";
}

void TestLineProfileCanvas::paintedMarks()
{
    QFETCH(int, overview); QFETCH(int, samples); QFETCH(int, width); QFETCH(int, offset); QFETCH(int, last); QFETCH(int, zoom);
    QFETCH(int, vertical); QFETCH(int, horizontal); QFETCH(QRect, marked); QFETCH(uint, colour); QFETCH(QString, step);

    QWidget window; // a child, as in the dialog, is grabbed onto a surface with alpha
    Qt4LineProfileCanvas canvas(&window);
    canvas.resize(width, overview ? 64 : 256);
    window.resize(canvas.size());
    window.show(); // shown, a grab sends no resize: the picture must fit itself when it arrives
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
    const QImage drawn = step == QLatin1String("worker's picture")
        ? linetooltest::runOn<linetooltest::ProfileTool>(linetooltest::linesFrame(samples, 2, 8, false), 1) : QImage();
    if (!drawn.isNull())
        picture = QPixmap::fromImage(drawn, Qt::AutoColor);
    canvas.setPixmap(&picture, overview);
    canvas.setXOffset(offset, offset, last);
    canvas.setAdditionalInfo(zoom, vertical, horizontal);
    if (step == QLatin1String("emptied")) {
        movePointer(&canvas, 7);
        canvas.setPixmap(nullptr, false);
        colour = canvas.palette().color(canvas.backgroundRole()).rgb() & 0xFFFFFFu;
        vertical = 7;
    }
    QSignalSpy reported(&canvas, SIGNAL(mousePositionChanged(int)));
    QImage want(canvas.size(), QImage::Format_RGB32);
    want.fill(Qt::black);
    QPainter(&want).fillRect(marked, QColor(colour));
    if (!drawn.isNull())
        want = drawn;
    QCOMPARE(canvas.grab().toImage().convertToFormat(QImage::Format_RGB32), want);
    if (overview || vertical < 0)
        return;

    // The pointer reports the marked sample exactly over its column, the neighbours beside it.
    for (int x = qMax(marked.left() - 1, 0); x <= marked.right() + 1 && step.isEmpty(); ++x) {
        movePointer(&canvas, x);
        const int sample = vertical + (x < marked.left() ? -1 : x > marked.right() ? 1 : 0);
        QVERIFY2(reported.last().at(0).toInt() == sample, qPrintable(QString::number(x)));
    }
    // Every paint reports the sample under the pointer; leaving reports none, and so does every later paint.
    if (step.isEmpty())
        movePointer(&canvas, marked.left());
    reported.clear();
    canvas.grab();
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&canvas, &leave);
    canvas.grab();
    QCOMPARE(reported.count(), 3);
    QCOMPARE(QList<int>({reported[0][0].toInt(), reported[1][0].toInt(), reported[2][0].toInt()}), QList<int>({vertical, -1, -1}));
}

void TestLineProfileCanvas::detailPicture_data()
{
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("offset");
    // A 4096-sample line in a 200-pixel view: the start; the middle, with the first sample
    // cut and only the first column of the last one shown; the end of the scroll range; and
    // past it, where the line ends inside the view.
    constexpr int samples = 4096, width = 200;
    for (int zoom : {1, 4, 16, 64}) {
        const int end = samples * zoom - width;
        for (int offset : {0, samples / 2 * zoom - width + 1, end, end + 3 + zoom / 2})
            QTest::addRow("zoom %d offset %d", zoom, offset) << zoom << offset;
    }
}

void TestLineProfileCanvas::detailPicture()
{
    QFETCH(int, zoom); QFETCH(int, offset);
    constexpr int samples = 4096, width = 200;
    QImage words(samples, 256, QImage::Format_RGB32); // each sample and row a colour of its own
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < samples; ++x)
            words.setPixel(x, y, qRgb(x & 0xFF, x >> 8, y));
    QPixmap picture = QPixmap::fromImage(words);
    QPixmap previous = QPixmap::fromImage(words.mirrored(true, false));

    Qt4LineProfileCanvas canvas;
    canvas.resize(width, 256);
    canvas.show();
    canvas.setAdditionalInfo(zoom, -1, -1);
    QImage want = canvas.grab().toImage().convertToFormat(QImage::Format_RGB32); // the background
    // Before the scroll: the previous picture, then the new one, at the start of the line.
    canvas.setPixmap(&previous, false);
    canvas.grab();
    canvas.setPixmap(&picture, false);
    canvas.grab();
    canvas.setXOffset(offset, offset, qMin(offset + width, samples * zoom - 1));

    // The whole line stretched to samples x zoom, its part from `offset` on, as far as it goes.
    for (int x = 0; x < width && x + offset < samples * zoom; ++x)
        for (int y = 0; y < 256; ++y)
            want.setPixel(x, y, words.pixel((x + offset) / zoom, y));
    QCOMPARE(canvas.grab().toImage().convertToFormat(QImage::Format_RGB32), want);
    const QImage& kept = vexo::core::LineProfileCanvasInspector::d(canvas).zoomedPart;
    QVERIFY(kept.width() <= width && kept.height() <= 256);
}

// The overview is the picture scaled to the canvas as a pixmap's nearest-neighbour scaling
// does it, squeezed or stretched, whole line shown (no band).
void TestLineProfileCanvas::overviewPicture()
{
    for (const QSize& pictureSize : {QSize(4099, 256), QSize(77, 256)}) {
        QImage words(pictureSize, QImage::Format_RGB32);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < words.width(); ++x)
                words.setPixel(x, y, qRgb(x & 0xFF, x >> 8, y));
        QPixmap picture = QPixmap::fromImage(words);
        Qt4LineProfileCanvas canvas;
        canvas.resize(301, 64);
        canvas.show();
        canvas.setPixmap(&picture, true);
        canvas.setXOffset(0, 0, words.width() - 1);
        const QImage want = picture.scaled(canvas.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation).toImage();
        QCOMPARE(canvas.grab().toImage().convertToFormat(QImage::Format_RGB32), want.convertToFormat(QImage::Format_RGB32));
    }
}

QTEST_MAIN(TestLineProfileCanvas)
#include "tst_line_profile_canvas.moc"
