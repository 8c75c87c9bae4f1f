// The histogram canvas: nearest-pixel stretching to its size, also after a resize, clearing,
// and painting the whole widget once after a new picture.

#include "HistogramTestSupport.h"

#include <QtTest>

using namespace histogramtest;
using vexo::core::LineHistogramInspector;
using vexo::core::Qt4LineHistogramCanvas;

namespace {

// Every pixel of its own colour, so a shifted or smoothed copy shows.
QPixmap patternPicture()
{
    QImage image(256, 256, QImage::Format_RGB32);
    for (int r = 0; r < 256; ++r)
        for (int b = 0; b < 256; ++b)
            image.setPixel(b, r, qRgb(b, r, (b * 7 + r * 3) & 0xff));
    return QPixmap::fromImage(image);
}

QVector<std::uint32_t> stretched(const QPixmap& picture, const QSize& size)
{
    return wordsOf(picture.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation).toImage());
}

// The canvas as a child of a shown window, where a resize reaches it at once (a top-level
// window's new size comes back from the platform later).
struct Shown
{
    QWidget host;
    Qt4LineHistogramCanvas* canvas = new Qt4LineHistogramCanvas(&host);

    explicit Shown(const QSize& size)
    {
        host.resize(600, 600);
        canvas->resize(size);
        host.show();
    }
    QVector<std::uint32_t> rendered() { return wordsOf(canvas->grab().toImage()); }
};

} // namespace

class TestLineHistogramCanvas : public QObject
{
    Q_OBJECT

private slots:
    void stretchesToSize_data();
    void stretchesToSize();
    void nullClears();
    void wholeWidgetOnceAfterNewPicture();
};

void TestLineHistogramCanvas::stretchesToSize_data()
{
    QTest::addColumn<QSize>("first"); // when the picture arrives
    QTest::addColumn<QSize>("size");  // when it is painted
    QTest::newRow("1:1") << QSize(256, 256) << QSize(256, 256);
    QTest::newRow("twice") << QSize(512, 512) << QSize(512, 512);
    QTest::newRow("uneven") << QSize(300, 170) << QSize(300, 170);
    QTest::newRow("smaller") << QSize(100, 50) << QSize(100, 50);
    QTest::newRow("one pixel") << QSize(1, 1) << QSize(1, 1);
    QTest::newRow("resized afterwards") << QSize(256, 256) << QSize(333, 411);
}

void TestLineHistogramCanvas::stretchesToSize()
{
    QFETCH(QSize, first);
    QFETCH(QSize, size);
    Shown shown(first);
    QPixmap picture = patternPicture();
    shown.canvas->setPixmap(&picture);
    picture = QPixmap(); // the canvas keeps its own copy
    shown.canvas->resize(size);
    QCOMPARE(shown.rendered(), stretched(patternPicture(), size));
}

void TestLineHistogramCanvas::nullClears()
{
    Shown shown(QSize(64, 32));
    QPixmap picture = patternPicture();
    shown.canvas->setPixmap(&picture);
    (void)shown.canvas->grab();

    shown.canvas->setPixmap(nullptr);
    const QRgb background = shown.canvas->palette().color(shown.canvas->backgroundRole()).rgb() & 0xFFFFFFu;
    QCOMPARE(shown.rendered(), QVector<std::uint32_t>(64 * 32, background));
    // A resize without a picture has nothing to scale.
    shown.canvas->resize(80, 40);
    QCOMPARE(shown.rendered(), QVector<std::uint32_t>(80 * 40, background));
}

// The first paint after a new picture covers the widget even when asked for a region; later
// paints draw the asked region, taken from the same place of the stretched picture.
void TestLineHistogramCanvas::wholeWidgetOnceAfterNewPicture()
{
    Shown shown(QSize(300, 200));
    Qt4LineHistogramCanvas& canvas = *shown.canvas;
    QPixmap picture = patternPicture();
    canvas.setPixmap(&picture);
    QVERIFY(LineHistogramInspector::d(&canvas).dirty);

    const QVector<std::uint32_t> want = stretched(picture, QSize(300, 200));
    const QRect region(120, 70, 50, 40);
    const auto renderRegion = [&] {
        QImage target(300, 200, QImage::Format_RGB32);
        target.fill(Qt::magenta);
        canvas.render(&target, region.topLeft(), QRegion(region), QWidget::RenderFlags());
        return target;
    };

    // Qt clips the painter to the region anyway; what counts is that dirty is consumed.
    QImage first = renderRegion();
    QVERIFY(!LineHistogramInspector::d(&canvas).dirty);
    QImage second = renderRegion();
    for (const QImage& image : {first, second}) {
        const QVector<std::uint32_t> got = wordsOf(image);
        for (int y = region.top(); y <= region.bottom(); ++y)
            for (int x = region.left(); x <= region.right(); ++x)
                QVERIFY2(got[y * 300 + x] == want[y * 300 + x],
                         qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
    }
}

QTEST_MAIN(TestLineHistogramCanvas)
#include "tst_line_histogram_canvas.moc"
