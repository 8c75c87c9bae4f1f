#include "lineprofile/Qt4LineProfileThread.h"

#include "vexo-lib-display/FrameBuffer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vexo {
namespace core {

namespace {

constexpr int levels = LineToolThread::pictureHeight;
// RGB32 words are 0xffRRGGBB: Qt copies them as they are onto surfaces with alpha, where a
// zero top byte paints the picture black.
constexpr std::uint32_t opaque = 0xFF000000u;
constexpr std::uint32_t curveWhite = opaque | 0xFFFFFFu;
constexpr std::uint32_t fillGray = opaque | 0x444444u;

// A sample brought to the 8-bit scale of the picture. The result also indexes the table of
// columns by level, so values beyond the stated bit depth are clamped after the shift, to
// 256, one past the top level 255 rather than onto it: every comparison with a level then
// comes out as for the full value (above every level, on none), so such a value still
// fills its whole column without a curve point, and no index leaves the table.
std::uint32_t toLevel(std::uint64_t sample, int bitsPerPixel)
{
    std::uint64_t scaled = sample;
    if (bitsPerPixel < 8)
        scaled = sample << (8 - bitsPerPixel);
    else if (bitsPerPixel > 8)
        scaled = sample >> (bitsPerPixel - 8);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(scaled, levels));
}

std::uint32_t grayPixel(std::uint32_t value, std::uint32_t level)
{
    return value == level ? curveWhite : (value > level ? fillGray : opaque);
}

std::uint32_t colorPixel(std::uint32_t red, std::uint32_t green, std::uint32_t blue, std::uint32_t level)
{
    // Curve points of several channels mix additively and hide the fills; fills of several
    // channels mix where no curve passes.
    const std::uint32_t curve =
        (red == level ? 0xFF0000u : 0u) | (green == level ? 0x00FF00u : 0u) | (blue == level ? 0x0000FFu : 0u);
    const std::uint32_t fill =
        (red > level ? 0x440000u : 0u) | (green > level ? 0x004400u : 0u) | (blue > level ? 0x000044u : 0u);
    return opaque | (curve != 0 ? curve : fill);
}

// The line on the picture's scale: one array of levels for gray, three (R, G, B) for colour.
using Levels = std::vector<std::uint32_t>;

// Reads line y through the display library's getters, each value 0 before its read (so a
// failed read counts as 0), straight onto the picture's scale.
std::vector<Levels> readLine(const FrameBuffer& source, int y, int width)
{
    const std::size_t n = static_cast<std::size_t>(width);
    const unsigned line = static_cast<unsigned>(y);
    const int bitsPerPixel = source.bitsPerPixel();
    if (source.isGray()) {
        std::vector<Levels> channels(1, Levels(n));
        for (std::size_t x = 0; x < n; ++x) {
            std::uint64_t value = 0;
            source.getPixelValueGray(static_cast<unsigned>(x), line, &value);
            channels[0][x] = toLevel(value, bitsPerPixel);
        }
        return channels;
    }
    std::vector<Levels> channels(3, Levels(n));
    for (std::size_t x = 0; x < n; ++x) {
        std::uint64_t red = 0;
        std::uint64_t green = 0;
        std::uint64_t blue = 0;
        source.getPixelValueColor(static_cast<unsigned>(x), line, &red, &green, &blue);
        channels[0][x] = toLevel(red, bitsPerPixel);
        channels[1][x] = toLevel(green, bitsPerPixel);
        channels[2][x] = toLevel(blue, bitsPerPixel);
    }
    return channels;
}

// The columns of the line grouped by level (a counting sort): the columns with a value of
// level l in some channel are order[start[l]] .. order[start[l + 1] - 1]. Values above the
// top level sort last and are never looked up.
struct ColumnsByLevel
{
    std::vector<int> start;
    std::vector<int> order;

    ColumnsByLevel(const std::vector<Levels>& channels, int width)
        : start(levels + 2, 0)
        , order(static_cast<std::size_t>(width) * channels.size())
    {
        for (const Levels& channel : channels)
            for (std::uint32_t level : channel)
                ++start[level + 1];
        for (int l = 0; l <= levels; ++l)
            start[l + 1] += start[l];
        std::vector<int> next(start.begin(), start.end() - 1);
        for (const Levels& channel : channels)
            for (int x = 0; x < width; ++x)
                order[static_cast<std::size_t>(next[channel[static_cast<std::size_t>(x)]]++)] = x;
    }
};

// Row r stands for the level 255 - r. A pixel can differ from the one above it only where
// a value equals one of the two levels, so each row starts as a copy of the row above and
// only those columns are drawn again: the picture costs about one copy of its bytes plus
// a few pixels per column, instead of a comparison for every pixel.
template <typename PixelAt>
void drawRows(std::uint32_t* pixels, int width, const ColumnsByLevel& columns, PixelAt pixelAt)
{
    if (width <= 0)
        return;
    for (int x = 0; x < width; ++x)
        pixels[x] = pixelAt(x, static_cast<std::uint32_t>(levels - 1));
    for (int r = 1; r < levels; ++r) {
        const int level = levels - 1 - r;
        std::uint32_t* row = pixels + static_cast<std::size_t>(r) * width;
        std::memcpy(row, row - width, static_cast<std::size_t>(width) * sizeof(std::uint32_t));
        for (int i = columns.start[level]; i < columns.start[level + 2]; ++i) {
            const int x = columns.order[static_cast<std::size_t>(i)];
            row[x] = pixelAt(x, static_cast<std::uint32_t>(level));
        }
    }
}

void drawPicture(std::uint32_t* pixels, int width, const std::vector<Levels>& channels)
{
    const ColumnsByLevel columns(channels, width);
    if (channels.size() == 1) {
        const Levels& value = channels[0];
        drawRows(pixels, width, columns, [&](int x, std::uint32_t level) { return grayPixel(value[x], level); });
    } else {
        const Levels& red = channels[0];
        const Levels& green = channels[1];
        const Levels& blue = channels[2];
        drawRows(pixels, width, columns,
                 [&](int x, std::uint32_t level) { return colorPixel(red[x], green[x], blue[x], level); });
    }
}

} // namespace

Qt4LineProfileThread::~Qt4LineProfileThread()
{
    wait();
}

// Worker thread.
void Qt4LineProfileThread::drawLine(const FrameBuffer& source, int y)
{
    const int width = std::max(source.width(), 0);
    const std::vector<Levels> channels = readLine(source, y, width);
    if (std::uint32_t* const pixels = claimPicture(width))
        drawPicture(pixels, width, channels);
}

} // namespace core
} // namespace vexo
