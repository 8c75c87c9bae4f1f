#include "linehistogram/Qt4LineHistogramThread.h"

#include "vexo-lib-display/FrameBuffer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace vexo {
namespace core {

namespace {

constexpr int binCount = Qt4LineHistogramThread::pictureSize;
// RGB32 pixels are 0xffRRGGBB: Qt copies them as they are onto surfaces with alpha, where a
// zero top byte would paint the picture transparent.
constexpr std::uint32_t opaque = 0xFF000000u;
using Counts = std::array<std::uint64_t, binCount>;
using Heights = std::array<std::int32_t, binCount>;

// Brings a value of `bits` significant bits to 8 bits, the bin index.
class BinScale
{
public:
    explicit BinScale(int bits)
        : up(bits < 8 ? 8 - bits : 0)
        , down(bits > 8 ? bits - 8 : 0)
    {
    }

    unsigned bin(std::uint64_t value) const
    {
        // A value with more significant bits than the buffer states would scale past the
        // last bin; it is counted in bin 255 instead of indexing outside the counts. Samples
        // are 16-bit, so the left shift cannot overflow.
        const std::uint64_t scaled = up != 0 ? value << up : value >> down;
        return scaled < binCount ? static_cast<unsigned>(scaled) : binCount - 1;
    }

private:
    int up;
    int down;
};

// Bar heights 0..255 on a log scale relative to the largest count of all channels.
void barHeights(const Counts& counts, std::uint64_t largest, Heights& heights)
{
    std::uint64_t previousCount = 0;
    std::int32_t previousHeight = 0;
    for (int b = 0; b < binCount; ++b) {
        const std::uint64_t c = counts[b];
        if (c == 0 || largest == 0) {
            // Also the empty line (largest 0), where the ratio would be 0 / 0.
            heights[b] = 0;
            continue;
        }
        if (c != previousCount) {
            // Truncated, not rounded: a count of half the largest gives 189 (189.54).
            const double h = 256.0 * std::log10(1.0 + 9.0 * static_cast<double>(c) / static_cast<double>(largest));
            previousHeight = static_cast<std::int32_t>(std::clamp(h, 0.0, 255.0));
            previousCount = c;
        }
        heights[b] = previousHeight;
    }
}

std::uint64_t largestCount(const Counts& counts)
{
    return *std::max_element(counts.begin(), counts.end());
}

// Row r shows level 255 - r, so bars grow from the bottom; written row by row and without
// branches so the compiler can vectorise the 64 K words.
void drawGray(const Heights& h, std::uint32_t* pixels)
{
    for (int level = binCount - 1; level >= 0; --level) {
        std::uint32_t* row = pixels + (binCount - 1 - level) * binCount;
        for (int b = 0; b < binCount; ++b) {
            const std::uint32_t top = -static_cast<std::uint32_t>(h[b] == level);
            const std::uint32_t body = -static_cast<std::uint32_t>(h[b] > level);
            row[b] = opaque | (top & 0xFFFFFFu) | (body & 0x444444u);
        }
    }
}

// A channel's top hides the bodies of the other channels in that pixel; tops and bodies of
// different channels mix additively among themselves.
void drawColour(const Heights& hr, const Heights& hg, const Heights& hb, std::uint32_t* pixels)
{
    for (int level = binCount - 1; level >= 0; --level) {
        std::uint32_t* row = pixels + (binCount - 1 - level) * binCount;
        for (int b = 0; b < binCount; ++b) {
            const std::uint32_t tops = (-static_cast<std::uint32_t>(hr[b] == level) & 0xFF0000u)
                | (-static_cast<std::uint32_t>(hg[b] == level) & 0x00FF00u)
                | (-static_cast<std::uint32_t>(hb[b] == level) & 0x0000FFu);
            const std::uint32_t bodies = (-static_cast<std::uint32_t>(hr[b] > level) & 0x440000u)
                | (-static_cast<std::uint32_t>(hg[b] > level) & 0x004400u)
                | (-static_cast<std::uint32_t>(hb[b] > level) & 0x000044u);
            row[b] = opaque | tops | (bodies & -static_cast<std::uint32_t>(tops == 0));
        }
    }
}

} // namespace

Qt4LineHistogramThread::Qt4LineHistogramThread() = default;

Qt4LineHistogramThread::~Qt4LineHistogramThread()
{
    wait();
}

// Worker thread.
void Qt4LineHistogramThread::drawLine(const FrameBuffer& source, int y)
{
    const int width = source.width();
    const BinScale scale(source.bitsPerPixel());
    // A line outside the buffer reads as failed reads, whose value 0 counts in bin 0.
    const unsigned line = static_cast<unsigned>(y);

    if (source.isGray()) {
        Counts counts{};
        for (int x = 0; x < width; ++x) {
            std::uint64_t value = 0;
            source.getPixelValueGray(static_cast<unsigned>(x), line, &value);
            ++counts[scale.bin(value)];
        }
        Heights heights;
        barHeights(counts, largestCount(counts), heights);
        if (std::uint32_t* const pixels = claimPicture(pictureSize))
            drawGray(heights, pixels);
        return;
    }

    Counts red{}, green{}, blue{};
    for (int x = 0; x < width; ++x) {
        std::uint64_t r = 0, g = 0, b = 0;
        source.getPixelValueColor(static_cast<unsigned>(x), line, &r, &g, &b);
        ++red[scale.bin(r)];
        ++green[scale.bin(g)];
        ++blue[scale.bin(b)];
    }
    const std::uint64_t largest = std::max({largestCount(red), largestCount(green), largestCount(blue)});
    Heights hr, hg, hb;
    barHeights(red, largest, hr);
    barHeights(green, largest, hg);
    barHeights(blue, largest, hb);
    if (std::uint32_t* const pixels = claimPicture(pictureSize))
        drawColour(hr, hg, hb, pixels);
}

} // namespace core
} // namespace vexo
