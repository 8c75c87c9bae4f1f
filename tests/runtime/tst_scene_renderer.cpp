// The scene renderer, probed at hand-worked canvas pixels: scaling per bit depth, the zoom
// mapping and its rounding at the image's edges, the grid, and frames still arriving.
// Samples are (7x + 13y + 5c) mod range, c the colour channel.

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/SceneRenderer.h"

#include <QtTest>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::SceneRenderer;

namespace {

struct Case
{
    Case(int b = 8, int z = 6, int x = 0, int y = 0) : bits(b), zoom(z), offsetX(x), offsetY(y) {}
    int bits, zoom, offsetX, offsetY;
    bool gray = true, grid = false;
    int width = 150, height = 70, canvasWidth = 100, canvasHeight = 80;
    int range = 0;              // 0: the bit depth's range; larger ones put samples above it
    int lastX = -2, lastY = -2; // -2: complete
    int corner = -1;            // when set, the sample at (0, 0)

    Case& colour() { return gray = false, *this; }
    Case& image(int w, int h) { return width = w, height = h, *this; }
    Case& canvas(int w, int h) { return canvasWidth = w, canvasHeight = h, *this; }
    Case& overRange() { return range = 65536, *this; }
    Case& partial(int x, int y) { return lastX = x, lastY = y, *this; }
    Case& top(int sample) { return corner = sample, *this; }
};

// A 40 x 30 12-bit image on a canvas large enough to show its end when magnified.
Case small(int zoom, bool grid, int offsetX = 0, int offsetY = 0)
{
    const bool large = zoom <= 6 || grid;
    Case c = Case(12, zoom, offsetX, offsetY).image(40, 30).canvas(large ? 300 : 120, large ? 200 : 99);
    c.grid = grid;
    return c;
}

bool sameCanvas(const DisplaySceneFrame& a, const DisplaySceneFrame& b)
{
    const std::size_t bytes = std::size_t(a.bytesPerScanline()) * std::size_t(a.height());
    // An empty canvas has no memory to compare.
    return a.width() == b.width() && a.height() == b.height()
        && (bytes == 0 || std::memcmp(a.canvas(), b.canvas(), bytes) == 0);
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestSceneRenderer : public QObject
{
    Q_OBJECT

private slots:
    void render_data()
    {
        QTest::addColumn<Case>("c");
        // "x,y=RRGGBB" canvas pixel and its colour; two digits are a gray; bg and grid as named.
        QTest::addColumn<QString>("probes");

        QTest::newRow("gray 8, 1:1, last canvas column, one line past the image")
            << Case(8, 6) << "0,0=00 1,0=07 2,0=0e 3,2=2f 99,0=b5 0,69=81 0,70=bg 99,79=bg";
        QTest::newRow("gray 1") << Case(1, 6) << "0,0=00 1,0=80 2,0=00";
        QTest::newRow("gray 7") << Case(7, 6) << "1,0=0e 2,0=1c 9,1=98";
        QTest::newRow("gray 16, full scale") << Case(16, 6).top(65535) << "0,0=ff 1,0=00 99,69=06 40,20=02";
        QTest::newRow("colour 8") << Case(8, 6).colour() << "0,0=00050a 1,0=070c11 99,69=363b40 0,70=bg";
        QTest::newRow("over range: 8 bits clamp at 255") << Case(8, 6).overRange() << "36,0=fc 29,4=ff 31,3=ff 99,69=ff";
        QTest::newRow("over range: colour 7 bits") << Case(7, 6).colour().overRange() << "0,0=000a14 7,6=feffff";

        QTest::newRow("step 0, 1:64, rounds up") << Case(12, 0) << "1,1=50 2,0=38 3,0=bg 0,2=bg";
        QTest::newRow("step 5, 1:2, colour, whole columns")
            << Case(12, 5).colour() << "1,1=020203 74,34=787878 75,0=bg 0,35=bg";
        QTest::newRow("step 7, 2:1") << Case(8, 7) << "0,0=00 1,0=00 2,0=07 3,2=14";
        QTest::newRow("step 7, image ends inside the canvas")
            << Case(8, 7, 110, 31).colour().canvas(100, 79) << "79,77=94999e 80,77=bg 0,77=83888d 0,78=bg";
        QTest::newRow("step 7, one canvas column") << Case(8, 7, 1, 0).canvas(1, 4) << "0,0=07 0,3=14";
        QTest::newRow("step 12, 64:1") << Case(8, 12, 148, 68) << "0,0=80 63,63=80 64,64=94 99,79=94";
        QTest::newRow("1:1 on the last column and line, odd width")
            << Case(12, 6, 149, 69).canvas(41, 30) << "0,0=79 1,0=bg 40,0=bg 0,1=bg";
        QTest::newRow("1:1 one past the last column and line") << Case(12, 6, 150, 70).canvas(40, 30) << "0,0=bg 39,29=bg";
        QTest::newRow("negative offset") << Case(12, 6, -5, -7).canvas(40, 30) << "0,0=00 1,1=01 39,29=28";

        QTest::newRow("grid at 8:1") << small(9, true, 3, 2)
                                     << "0,0=grid 8,5=grid 9,8=grid 9,9=04 295,9=13 288,9=grid 296,9=bg 296,0=bg";
        QTest::newRow("grid at 8:1, image ends") << small(9, true, 38, 28)
                                                 << "1,1=27 15,15=28 16,1=bg 1,16=bg 16,0=bg 8,1=grid 1,8=grid";
        QTest::newRow("no grid at 4:1") << small(8, true, 3, 2) << "0,0=02 4,4=04 8,8=05";

        QTest::newRow("partial, 1:1") << small(6, false).partial(10, 5) << "10,5=08 11,5=bg 39,4=14 39,5=bg 0,6=bg";
        QTest::newRow("partial, 1:2, rounds up") << small(5, false).partial(10, 4) << "5,2=07 6,2=bg 19,1=12 0,3=bg";
        QTest::newRow("partial, 2:1") << small(7, false, 8, 3).partial(10, 5) << "5,4=08 6,4=bg 6,5=bg 63,3=14 0,6=bg";
        QTest::newRow("partial, 8:1 grid") << small(9, true).partial(10, 5)
                                           << "87,41=08 89,41=bg 88,41=grid 89,48=grid 89,49=bg 90,40=grid";
        QTest::newRow("partial, no column of the last line") << small(6, false).partial(-1, 5) << "0,5=bg 39,4=14";
        QTest::newRow("partial, last column past the width") << small(6, false).partial(100, 5) << "39,5=15 40,5=bg 0,6=bg";
        QTest::newRow("partial, last line past the height") << small(6, false).partial(5, 40) << "39,29=28 0,30=bg";

        QTest::newRow("empty image") << small(9, true).image(0, 30) << "0,0=bg 49,39=bg";
        QTest::newRow("empty canvas") << small(9, true).canvas(0, 0) << "";
    }

    // The vector kernels against the table, on random samples over the whole 16-bit range
    // (most above the depth, so clamping shows) and widths that leave every tail length.
    void kernelsAgree_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("gray");
        QTest::addColumn<int>("zoom");
        for (const int bits : {1, 7, 8, 9, 12, 16})
            for (const bool gray : {true, false})
                for (const int zoom : {3, 4, 5, 6, 7, 8})
                    QTest::addRow("%s %d, step %d", gray ? "gray" : "colour", bits, zoom) << bits << gray << zoom;
    }
    void kernelsAgree()
    {
        QFETCH(int, bits);
        QFETCH(bool, gray);
        QFETCH(int, zoom);
        std::mt19937 random(unsigned(bits * 100 + zoom));
        // Zoomed out, wider images, so that runs still end at every length.
        const int widths = 40 << std::max(0, 6 - zoom);
        for (int width = 1; width <= widths; ++width) {
            FrameBuffer buffer(width, 3, bits, gray);
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < width * buffer.channels(); ++x)
                    buffer.line(y)[x] = std::uint16_t(random() % 4 ? random() : random() & ((1u << bits) - 1));
            // The last line ends early: its runs are cut at every length too.
            buffer.setLastValidPixel(width / 2, 2);
            DisplaySceneFrame fast(45, 8);
            DisplaySceneFrame portable(45, 8);
            SceneRenderer::render(buffer, {zoom, 0, 0, false}, fast);
            SceneRenderer::render(buffer, {zoom, 0, 0, false}, portable, SceneRenderer::Kernels::Portable);
            QVERIFY2(sameCanvas(fast, portable), qPrintable(QString("width %1").arg(width)));
        }
    }

    void render()
    {
        QFETCH(Case, c);
        QFETCH(QString, probes);

        FrameBuffer buffer(c.width, c.height, c.bits, c.gray);
        const int range = c.range > 0 ? c.range : 1 << c.bits;
        const int channels = buffer.channels();
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width * channels; ++x)
                buffer.line(y)[x] = std::uint16_t((7 * (x / channels) + 13 * y + 5 * (x % channels)) % range);
        if (c.corner >= 0)
            buffer.line(0)[0] = std::uint16_t(c.corner);
        c.lastY == -2 ? buffer.setComplete() : buffer.setLastValidPixel(c.lastX, c.lastY);

        DisplaySceneFrame frame(c.canvasWidth, c.canvasHeight);
        SceneRenderer::render(buffer, {c.zoom, c.offsetX, c.offsetY, c.grid}, frame);
        DisplaySceneFrame portable(c.canvasWidth, c.canvasHeight);
        SceneRenderer::render(buffer, {c.zoom, c.offsetX, c.offsetY, c.grid}, portable, SceneRenderer::Kernels::Portable);
        QVERIFY(sameCanvas(frame, portable));

        // The geometry: origin, zoom, and canvas pixels per image pixel as a fraction of 64.
        QCOMPARE((QList<int>{frame.minX(), frame.minY(), frame.zoomValue(), frame.stepSize() * (1 << c.zoom)}),
                 (QList<int>{std::max(c.offsetX, 0), std::max(c.offsetY, 0), c.zoom, 64 * frame.pixelSize()}));

        for (const QString& probe : probes.split(' ', Qt::SkipEmptyParts)) {
            const QStringList parts = probe.split(QRegularExpression("[,=]"));
            const QString& want = parts[2];
            const std::uint32_t expected = want == "bg"     ? SceneRenderer::backgroundColor
                                           : want == "grid" ? SceneRenderer::gridColor
                                           : 0xff000000u | (want.size() == 2 ? 0x010101u : 1u) * want.toUInt(nullptr, 16);
            QCOMPARE(QString::number(frame.canvasLine(parts[1].toInt())[parts[0].toInt()], 16),
                     QString::number(expected, 16));
        }
    }
};

QTEST_GUILESS_MAIN(TestSceneRenderer)
#include "tst_scene_renderer.moc"
