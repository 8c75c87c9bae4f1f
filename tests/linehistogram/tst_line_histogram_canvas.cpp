// The line histogram canvas: its stretching of the picture and its clearing, as painted.

#include "LineToolTestSupport.h"

#include <QtTest>

using vexo::core::LineHistogramInspector;
using vexo::core::Qt4LineHistogramCanvas;

class TestLineHistogramCanvas : public QObject
{
    Q_OBJECT

private slots:
    void painted_data();
    void painted();
};

void TestLineHistogramCanvas::painted_data()
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
void TestLineHistogramCanvas::painted()
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
    QImage want(size, QImage::Format_RGB32);
    want.fill(canvas->palette().color(canvas->backgroundRole()));
    if (!cleared)
        want = QPixmap::fromImage(pattern).scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation).toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(canvas->grab().toImage().convertToFormat(QImage::Format_RGB32), want);
    QVERIFY(!d.dirty);
}

QTEST_MAIN(TestLineHistogramCanvas)
#include "tst_line_histogram_canvas.moc"
