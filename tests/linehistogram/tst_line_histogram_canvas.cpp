// The histogram canvas: nearest-pixel stretching to its size, rescaling on resize, clearing,
// and painting the whole widget once after a new picture.

#include "HistogramTestSupport.h"

#include <QPainter>
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

QVector<std::uint32_t> rendered(Qt4LineHistogramCanvas& canvas)
{
    return wordsOf(canvas.grab().toImage());
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
    auto& d() { return LineHistogramInspector::d(canvas); }
};

} // namespace

class TestLineHistogramCanvas : public QObject
{
    Q_OBJECT

private slots:
    void stretchesToSize_data();
    void stretchesToSize();
    void resizeRescalesSamePicture();
    void nullClears();
    void wholeWidgetOnceAfterNewPicture();
};

void TestLineHistogramCanvas::stretchesToSize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("1:1") << QSize(256, 256);
    QTest::newRow("twice") << QSize(512, 512);
    QTest::newRow("uneven") << QSize(300, 170);
    QTest::newRow("smaller") << QSize(100, 50);
    QTest::newRow("one pixel") << QSize(1, 1);
}

void TestLineHistogramCanvas::stretchesToSize()
{
    QFETCH(QSize, size);
    Shown shown(size);
    QPixmap picture = patternPicture();
    shown.canvas->setPixmap(&picture);
    QCOMPARE(shown.d().fittedPixmap.size(), size);
    QCOMPARE(rendered(*shown.canvas), stretched(picture, size));
}

void TestLineHistogramCanvas::resizeRescalesSamePicture()
{
    Shown shown(QSize(256, 256));
    QPixmap picture = patternPicture();
    shown.canvas->setPixmap(&picture);
    picture = QPixmap(); // the canvas keeps its own copy

    shown.canvas->resize(333, 411);
    QCOMPARE(shown.d().fittedPixmap.size(), QSize(333, 411));
    QCOMPARE(rendered(*shown.canvas), stretched(patternPicture(), QSize(333, 411)));
}

void TestLineHistogramCanvas::nullClears()
{
    Shown shown(QSize(64, 32));
    Qt4LineHistogramCanvas& canvas = *shown.canvas;
    QPixmap picture = patternPicture();
    canvas.setPixmap(&picture);
    (void)canvas.grab();
    QVERIFY(!shown.d().dirty);

    canvas.setPixmap(nullptr);
    QVERIFY(shown.d().pixmap.isNull());
    QVERIFY(shown.d().fittedPixmap.isNull());
    QVERIFY(!shown.d().dirty); // clearing is no new picture

    const QRgb background = canvas.palette().color(canvas.backgroundRole()).rgb() & 0xFFFFFFu;
    const QVector<std::uint32_t> got = rendered(canvas);
    QCOMPARE(got.size(), 64 * 32);
    QVERIFY(std::all_of(got.begin(), got.end(), [&](std::uint32_t w) { return w == background; }));

    // Resizing without a picture has nothing to scale.
    canvas.resize(80, 40);
    QVERIFY(shown.d().fittedPixmap.isNull());
}

// The first paint after a new picture covers the widget even when asked for a part; later
// paints draw the asked part, taken from the same place of the stretched picture.
void TestLineHistogramCanvas::wholeWidgetOnceAfterNewPicture()
{
    Shown shown(QSize(300, 200));
    Qt4LineHistogramCanvas& canvas = *shown.canvas;
    QPixmap picture = patternPicture();
    canvas.setPixmap(&picture);
    QVERIFY(shown.d().dirty);

    const QVector<std::uint32_t> want = stretched(picture, QSize(300, 200));
    const QRect part(120, 70, 50, 40);
    const auto renderPart = [&] {
        QImage target(300, 200, QImage::Format_RGB32);
        target.fill(Qt::magenta);
        canvas.render(&target, part.topLeft(), QRegion(part), QWidget::RenderFlags());
        return target;
    };

    // Qt clips the painter to the part anyway; what counts is that dirty is consumed.
    QImage first = renderPart();
    QVERIFY(!shown.d().dirty);
    QImage second = renderPart();
    for (const QImage& image : {first, second}) {
        const QVector<std::uint32_t> got = wordsOf(image);
        for (int y = part.top(); y <= part.bottom(); ++y)
            for (int x = part.left(); x <= part.right(); ++x)
                QVERIFY2(got[y * 300 + x] == want[y * 300 + x],
                         qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
    }

    // A null picture handed over counts as new but has nothing to fit.
    QPixmap none;
    canvas.setPixmap(&none);
    QVERIFY(shown.d().dirty);
    QVERIFY(shown.d().pixmap.isNull());
}

QTEST_MAIN(TestLineHistogramCanvas)
#include "tst_line_histogram_canvas.moc"
