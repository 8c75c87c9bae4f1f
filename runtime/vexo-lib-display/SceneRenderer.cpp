#include "vexo-lib-display/SceneRenderer.h"

#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/RowKernels.h"
#include "vexo-lib-display/ZoomStep.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace vexo {
namespace core {

namespace {

constexpr int tableSize = 65536;

// Gray word 0xffVVVVVV for every possible 16-bit sample at one bit depth. Colour pixels
// use the same table and mask out the byte they need, so one table serves both.
// Samples may hold values above the stated bit depth (a camera set to 10 bits can still
// deliver 12); those clamp to full brightness instead of wrapping around.
const std::uint32_t* grayTable(int bitsPerPixel)
{
    const int bits = std::clamp(bitsPerPixel, 1, 16);
    static std::once_flag built[17];
    static std::unique_ptr<std::uint32_t[]> tables[17];
    std::call_once(built[bits], [bits] {
        auto table = std::make_unique<std::uint32_t[]>(tableSize);
        for (std::uint32_t v = 0; v < tableSize; ++v) {
            std::uint32_t c = bits < 8 ? v << (8 - bits) : v >> (bits - 8);
            c = std::min(c, 255u);
            table[v] = 0xff000000u | c << 16 | c << 8 | c;
        }
        tables[bits] = std::move(table);
    });
    return tables[bits].get();
}

std::uint32_t colorWord(const std::uint32_t* table, const std::uint16_t* rgb)
{
    return (table[rgb[0]] & 0x00ff0000u) | (table[rgb[1]] & 0x0000ff00u) | (table[rgb[2]] & 0xff0000ffu);
}

// Image columns of line y that are published: all above the last valid line, up to the
// last valid column on it, none below.
std::int64_t writtenColumns(std::int64_t y, int lastX, int lastY, int width)
{
    if (y < lastY)
        return width;
    if (y > lastY)
        return 0;
    return std::clamp<std::int64_t>(static_cast<std::int64_t>(lastX) + 1, 0, width);
}

struct Mapping
{
    std::int64_t offsetX;
    std::int64_t offsetY;
    int step; // image pixels per canvas pixel
    int shift; // log2 of canvas pixels per image pixel
    int canvasWidth;

    // Canvas columns, from the left, that show image columns below limit.
    int columnsBelow(std::int64_t limit) const
    {
        if (limit <= offsetX)
            return 0;
        const std::int64_t n = (limit - offsetX) * (std::int64_t{1} << shift);
        return static_cast<int>(std::min<std::int64_t>(canvasWidth, (n + step - 1) / step));
    }
};

// Copies from a ready-made line of the colour: at -O2 a word-by-word fill loop stays scalar
// and runs several times slower than the library's block copy.
template <std::uint32_t Color>
void fillWith(std::uint32_t* out, int from, int to)
{
    constexpr int chunk = 4096;
    static const std::vector<std::uint32_t> line(chunk, Color);
    while (from < to) {
        const int n = std::min(to - from, chunk);
        std::memcpy(out + from, line.data(), static_cast<std::size_t>(n) * sizeof(Color));
        from += n;
    }
}

void fillBackground(std::uint32_t* out, int from, int to)
{
    fillWith<SceneRenderer::backgroundColor>(out, from, to);
}

#if defined(__BYTE_ORDER__) && defined(__ORDER_BIG_ENDIAN__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool bigEndian = true;
#else
constexpr bool bigEndian = false;
#endif

// Canvas words out[0..n) = wordAt(i), two per 64-bit store: the loop is bound by its
// stores, and halving them saves about a fifth of the time.
template <typename WordAt>
void convertRow(std::uint32_t* out, int n, WordAt wordAt)
{
    int i = 0;
    for (; i + 1 < n; i += 2) {
        const std::uint64_t first = wordAt(i);
        const std::uint64_t second = wordAt(i + 1);
        const std::uint64_t pair = bigEndian ? first << 32 | second : second << 32 | first;
        std::memcpy(out + i, &pair, sizeof pair);
    }
    if (i < n)
        out[i] = wordAt(i);
}

// Turns runs of image pixels into canvas words, through the vector kernels where the CPU
// has them and the table everywhere else (or where the caller asks for the table).
struct Words
{
    Words(const FrameBuffer& buffer, const std::uint32_t* table, SceneRenderer::Kernels kernels)
        : table(table)
        , bits(buffer.bitsPerPixel())
        , gray(buffer.isGray())
        , vector(kernels == SceneRenderer::Kernels::Fastest
                 && (gray ? rowkernels::haveGray() : rowkernels::haveColor()))
    {
    }

    // out[i] for the pixel at src + i * step pixels, i < n.
    void operator()(std::uint32_t* out, const std::uint16_t* src, int n, int step) const
    {
        const std::size_t stride = static_cast<std::size_t>(step) * (gray ? 1 : 3);
        if (vector && gray && step == 1)
            rowkernels::grayWords(out, src, n, bits);
        else if (vector && gray && step == 2)
            rowkernels::grayWordsOfEven(out, src, n, bits);
        else if (vector && !gray && step == 1)
            rowkernels::colorWords(out, src, n, bits);
        else if (vector && !gray && step == 2)
            rowkernels::colorWordsOfEven(out, src, n, bits);
        else if (vector && !gray)
            rowkernels::colorWordsOfStep(out, src, n, step, bits);
        else if (gray && step == 1)
            convertRow(out, n, [=](int i) { return table[src[i]]; });
        else if (gray)
            convertRow(out, n, [=](int i) { return table[src[i * stride]]; });
        else
            convertRow(out, n, [=](int i) { return colorWord(table, src + i * stride); });
    }

    const std::uint32_t* table;
    int bits;
    bool gray;
    bool vector;
};

// Zoomed out or 1:1: every canvas line is its own image line, every step-th column.
void renderReduced(const FrameBuffer& buffer, const Mapping& m, DisplaySceneFrame& frame, const Words& words, int lastX,
                   int lastY)
{
    const int width = frame.width();
    const int imageWidth = buffer.width();
    const int imageHeight = buffer.height();
    const int step = m.step;
    for (int cy = 0; cy < frame.height(); ++cy) {
        std::uint32_t* out = frame.canvasLine(cy);
        const std::int64_t y = m.offsetY + static_cast<std::int64_t>(cy) * step;
        const int n = y < imageHeight ? m.columnsBelow(writtenColumns(y, lastX, lastY, imageWidth)) : 0;
        if (n > 0)
            words(out, buffer.line(static_cast<int>(y)) + m.offsetX * buffer.channels(), n, step);
        fillBackground(out, n, width);
    }
}

// out[0..n) from words[0..), each word pixelSize times. Two-pixel steps store word pairs:
// a fill call per pixel would cost more than the pixel.
void repeatWords(std::uint32_t* out, const std::uint32_t* words, int n, int pixelSize)
{
    int cx = 0;
    if (pixelSize == 2) {
        for (int j = 0; cx + 2 <= n; ++j, cx += 2) {
            const std::uint64_t pair = std::uint64_t(words[j]) << 32 | words[j];
            std::memcpy(out + cx, &pair, sizeof pair);
        }
        if (cx < n)
            out[cx] = words[cx / 2];
        return;
    }
    for (int j = 0; cx < n; ++j) {
        const int end = std::min(cx + pixelSize, n);
        std::fill(out + cx, out + end, words[j]);
        cx = end;
    }
}

// Zoomed in: each image line covers pixelSize canvas lines, which are rendered once and
// copied; the grid goes on top of the copies.
void renderMagnified(const FrameBuffer& buffer, const Mapping& m, bool grid, DisplaySceneFrame& frame,
                     const Words& words, int lastX, int lastY)
{
    const int width = frame.width();
    const int height = frame.height();
    const int pixelSize = 1 << m.shift;
    const int imageWidth = buffer.width();
    const int imageHeight = buffer.height();
    const int channels = buffer.channels();
    // The grid covers the whole image extent, written or not, so the raster stays put
    // while a frame arrives.
    const int imageColumns = m.columnsBelow(imageWidth);
    for (int cy0 = 0; cy0 < height; cy0 += pixelSize) {
        const int rows = std::min(pixelSize, height - cy0);
        std::uint32_t* first = frame.canvasLine(cy0);
        const std::int64_t y = m.offsetY + (cy0 >> m.shift);
        if (y >= imageHeight) {
            for (int r = 0; r < rows; ++r)
                fillBackground(frame.canvasLine(cy0 + r), 0, width);
            continue;
        }
        const int n = m.columnsBelow(writtenColumns(y, lastX, lastY, imageWidth));
        // The image pixels of the line in runs that fit on the stack, then repeated.
        constexpr int run = 256;
        std::uint32_t pixels[run];
        // Only a line with written pixels is touched: an empty image has no line memory.
        const std::uint16_t* src = n > 0 ? buffer.line(static_cast<int>(y)) + m.offsetX * channels : nullptr;
        for (int cx = 0; cx < n; cx += run * pixelSize, src += run * channels) {
            const int columns = std::min(n - cx, run * pixelSize);
            words(pixels, src, (columns + pixelSize - 1) / pixelSize, 1);
            repeatWords(first + cx, pixels, columns, pixelSize);
        }
        fillBackground(first, n, width);
        if (grid) {
            for (int cx = 0; cx < imageColumns; cx += pixelSize)
                first[cx] = SceneRenderer::gridColor;
        }
        const std::size_t bytes = static_cast<std::size_t>(width) * sizeof(std::uint32_t);
        for (int r = 1; r < rows; ++r)
            std::memcpy(frame.canvasLine(cy0 + r), first, bytes);
        if (grid)
            fillWith<SceneRenderer::gridColor>(first, 0, imageColumns);
    }
}

} // namespace

DisplaySceneFrame::Geometry SceneRenderer::geometryFor(int zoomStep, int offsetX, int offsetY)
{
    const ZoomStep step(zoomStep);
    DisplaySceneFrame::Geometry g;
    g.minX = std::max(offsetX, 0);
    g.minY = std::max(offsetY, 0);
    g.stepSize = step.stepSize();
    g.pixelSize = step.pixelSize();
    g.zoomValue = step.value();
    return g;
}

void SceneRenderer::render(const FrameBuffer& buffer, const View& view, DisplaySceneFrame& frame, Kernels kernels)
{
    const DisplaySceneFrame::Geometry g = geometryFor(view.zoomStep, view.offsetX, view.offsetY);
    frame.setGeometry(g);
    if (frame.width() <= 0 || frame.height() <= 0)
        return;

    // Read once: the writer may move it on while we render, and everything up to this
    // point is already published.
    int lastX = -1;
    int lastY = -1;
    buffer.lastValidPixel(&lastX, &lastY);

    Mapping m;
    m.offsetX = g.minX;
    m.offsetY = g.minY;
    m.step = g.stepSize;
    m.shift = ZoomStep(g.zoomValue).pixelShift();
    m.canvasWidth = frame.width();

    const Words words(buffer, view.table ? view.table : grayTable(buffer.bitsPerPixel()),
                      view.table ? Kernels::Portable : kernels);
    const bool grid = view.grid && g.pixelSize >= minGridPixelSize;
    if (g.pixelSize > 1)
        renderMagnified(buffer, m, grid, frame, words, lastX, lastY);
    else
        renderReduced(buffer, m, frame, words, lastX, lastY);
}

} // namespace core
} // namespace vexo
