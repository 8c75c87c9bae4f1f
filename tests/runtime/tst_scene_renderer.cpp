// The scene renderer against a per-pixel model written out plainly here: map the canvas
// pixel to its image point, read the sample, scale it, or show background or grid.

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/SceneRenderer.h"

#include <QtTest>

#include <algorithm>
#include <cstdint>

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::SceneRenderer;

namespace {

struct Case
{
    int width = 150;
    int height = 70;
    int bits = 8;
    bool gray = true;
    int range = 0; // samples cycle through 0..range-1; 0 means the bit depth's range
    int zoom = 6;
    int offsetX = 0;
    int offsetY = 0;
    int canvasWidth = 100;
    int canvasHeight = 80;
    bool grid = false;
    bool complete = true;
    int lastX = -1;
    int lastY = -1;
};

std::uint64_t sample(int x, int y, int channel, int range)
{
    return static_cast<std::uint64_t>(x * 7 + y * 13 + channel * 5) % range;
}

std::uint32_t toByte(std::uint64_t v, int bits)
{
    const std::uint64_t scaled = bits < 8 ? v * (1u << (8 - bits)) : v / (1u << (bits - 8));
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(scaled, 255));
}

int powerOfTwo(int n)
{
    int p = 1;
    while (n-- > 0)
        p *= 2;
    return p;
}

std::uint32_t expectedPixel(const FrameBuffer& buffer, const Case& c, int cx, int cy)
{
    const long long ox = std::max(c.offsetX, 0);
    const long long oy = std::max(c.offsetY, 0);
    const int step = c.zoom < 6 ? powerOfTwo(6 - c.zoom) : 1;
    const int size = c.zoom > 6 ? powerOfTwo(c.zoom - 6) : 1;
    const long long x = ox + static_cast<long long>(cx) * step / size;
    const long long y = oy + static_cast<long long>(cy) * step / size;
    if (x >= c.width || y >= c.height)
        return SceneRenderer::backgroundColor;
    if (c.grid && size >= 8 && (cx % size == 0 || cy % size == 0))
        return SceneRenderer::gridColor;
    int lastX = 0;
    int lastY = 0;
    buffer.lastValidPixel(&lastX, &lastY);
    if (y > lastY || (y == lastY && x > lastX))
        return SceneRenderer::backgroundColor;
    std::uint64_t r = 0, g = 0, b = 0;
    if (c.gray) {
        buffer.getPixelValueGray(unsigned(x), unsigned(y), &r);
        g = b = r;
    } else {
        buffer.getPixelValueColor(unsigned(x), unsigned(y), &r, &g, &b);
    }
    return 0xff000000u | toByte(r, c.bits) << 16 | toByte(g, c.bits) << 8 | toByte(b, c.bits);
}

void addRow(const char* what, const Case& c)
{
    QTest::addRow("%s %s%d step %d at %d,%d canvas %dx%d%s", what, c.gray ? "gray" : "rgb",
                  c.bits, c.zoom, c.offsetX, c.offsetY, c.canvasWidth, c.canvasHeight,
                  c.grid ? " grid" : "")
        << c;
}

void addAllSteps(const char* what, Case c)
{
    for (c.zoom = 0; c.zoom <= 12; ++c.zoom)
        addRow(what, c);
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestSceneRenderer : public QObject
{
    Q_OBJECT

private slots:
    void render_data();
    void render();
};

void TestSceneRenderer::render_data()
{
    QTest::addColumn<Case>("c");

    Case c;
    for (int bits : {1, 7, 8, 12, 16}) {
        c.bits = bits;
        addAllSteps("depth", c);
    }
    c.gray = false;
    for (int bits : {8, 12}) {
        c.bits = bits;
        addAllSteps("depth", c);
    }

    // Canvas smaller than the image at 1:1; offsets in the middle, on the last column and
    // line, just past them, far past one edge, and negative.
    c = Case();
    c.bits = 12;
    c.canvasWidth = 40;
    c.canvasHeight = 30;
    const int offsets[][2] = {{71, 33}, {149, 69}, {150, 70}, {140, 500}, {-5, -7}};
    for (const auto& o : offsets) {
        c.offsetX = o[0];
        c.offsetY = o[1];
        addAllSteps("offset", c);
    }
    c.gray = false;
    c.bits = 8;
    c.offsetX = 149;
    c.offsetY = 69;
    addAllSteps("offset", c);

    // Samples above the stated depth clamp instead of wrapping.
    c = Case();
    c.range = 65536;
    for (bool gray : {true, false}) {
        c.gray = gray;
        for (int bits : {1, 7, 8, 12}) {
            c.bits = bits;
            for (int zoom : {2, 6, 10}) {
                c.zoom = zoom;
                addRow("over range", c);
            }
        }
    }

    // Grid only from 8:1 on, and only over the image; the second set ends the image inside
    // the canvas.
    c = Case();
    c.width = 40;
    c.height = 30;
    c.canvasWidth = 300;
    c.canvasHeight = 200;
    c.grid = true;
    c.offsetX = 3;
    c.offsetY = 2;
    addAllSteps("grid", c);
    c.gray = false;
    c.bits = 12;
    c.offsetX = 38;
    c.offsetY = 28;
    for (c.zoom = 8; c.zoom <= 12; ++c.zoom)
        addRow("grid edge", c);

    // A frame still arriving: background exactly after the last written pixel.
    c = Case();
    c.width = 40;
    c.height = 30;
    c.bits = 12;
    c.canvasWidth = 120;
    c.canvasHeight = 100;
    c.complete = false;
    const int lasts[][2] = {{10, 5}, {11, 5}, {-1, 5}, {39, 5}, {100, 5}, {5, 40}, {-1, -1}};
    for (const auto& last : lasts) {
        c.lastX = last[0];
        c.lastY = last[1];
        for (int zoom : {4, 5, 6, 7, 9}) {
            c.zoom = zoom;
            c.grid = zoom == 9;
            c.offsetX = zoom == 7 ? 8 : 0;
            c.offsetY = zoom == 7 ? 3 : 0;
            addRow(qPrintable(QString("partial %1,%2").arg(last[0]).arg(last[1])), c);
        }
    }

    // Empty buffers and canvases.
    const int sizes[][4] = {{0, 0, 50, 40}, {0, 5, 50, 40}, {5, 0, 50, 40},
                            {20, 10, 0, 0}, {20, 10, 0, 10}, {20, 10, 10, 0}};
    c = Case();
    c.grid = true;
    for (const auto& s : sizes) {
        c.width = s[0];
        c.height = s[1];
        c.canvasWidth = s[2];
        c.canvasHeight = s[3];
        for (int zoom : {3, 6, 9}) {
            c.zoom = zoom;
            addRow("empty", c);
        }
    }
}

void TestSceneRenderer::render()
{
    QFETCH(Case, c);

    FrameBuffer buffer(c.width, c.height, c.bits, c.gray);
    const int range = c.range > 0 ? c.range : 1 << c.bits;
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            if (c.gray)
                buffer.setPixelValueGray(x, y, sample(x, y, 0, range));
            else
                buffer.setPixelValueColor(x, y, sample(x, y, 0, range), sample(x, y, 1, range),
                                          sample(x, y, 2, range));
        }
    if (c.complete)
        buffer.setComplete();
    else
        buffer.setLastValidPixel(c.lastX, c.lastY);

    DisplaySceneFrame frame(c.canvasWidth, c.canvasHeight);
    SceneRenderer::View view;
    view.zoomStep = c.zoom;
    view.offsetX = c.offsetX;
    view.offsetY = c.offsetY;
    view.grid = c.grid;
    SceneRenderer::render(buffer, view, frame);

    QCOMPARE(frame.minX(), std::max(c.offsetX, 0));
    QCOMPARE(frame.minY(), std::max(c.offsetY, 0));
    QCOMPARE(frame.zoomValue(), c.zoom);
    QCOMPARE(frame.stepSize() * powerOfTwo(c.zoom), 64 * frame.pixelSize());
    QVERIFY(frame.stepSize() == 1 || frame.pixelSize() == 1);

    for (int cy = 0; cy < c.canvasHeight; ++cy) {
        const std::uint32_t* line = frame.canvasLine(cy);
        for (int cx = 0; cx < c.canvasWidth; ++cx) {
            const std::uint32_t expected = expectedPixel(buffer, c, cx, cy);
            if (line[cx] != expected)
                QFAIL(qPrintable(QString("canvas %1,%2: 0x%3, expected 0x%4")
                                     .arg(cx)
                                     .arg(cy)
                                     .arg(line[cx], 8, 16, QChar('0'))
                                     .arg(expected, 8, 16, QChar('0'))));
        }
    }
}

QTEST_GUILESS_MAIN(TestSceneRenderer)
#include "tst_scene_renderer.moc"
