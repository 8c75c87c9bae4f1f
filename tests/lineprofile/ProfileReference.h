#pragma once

// The profile picture as the drawing rules define it, computed pixel by pixel the slow way,
// and small builders for frames. Shared by the line profile tests.

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QImage>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <functional>
#include <vector>

namespace profiletest {

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;

inline std::uint64_t toScale(std::uint64_t value, int bitsPerPixel)
{
    if (bitsPerPixel < 8)
        return value << (8 - bitsPerPixel);
    if (bitsPerPixel > 8)
        return value >> (bitsPerPixel - 8);
    return value;
}

// The word of pixel (x, row) for line y, compared as unsigned 64-bit numbers.
inline std::uint32_t expectedWord(const FrameBuffer& buffer, int x, int row, int y)
{
    const std::uint64_t level = 255 - static_cast<std::uint64_t>(row);
    const int bpp = buffer.bitsPerPixel();
    if (buffer.isGray()) {
        std::uint64_t v = 0;
        buffer.getPixelValueGray(x, y, &v);
        v = toScale(v, bpp);
        return v == level ? 0xFFFFFFu : v > level ? 0x444444u : 0u;
    }
    std::uint64_t r = 0, g = 0, b = 0;
    buffer.getPixelValueColor(x, y, &r, &g, &b);
    r = toScale(r, bpp);
    g = toScale(g, bpp);
    b = toScale(b, bpp);
    std::uint32_t word = 0;
    if (r == level)
        word += 0xFF0000;
    if (g == level)
        word += 0x00FF00;
    if (b == level)
        word += 0x0000FF;
    if (word == 0) {
        if (r > level)
            word += 0x440000;
        if (g > level)
            word += 0x004400;
        if (b > level)
            word += 0x000044;
    }
    return word;
}

inline QImage expectedPicture(const FrameBuffer& buffer, int y)
{
    QImage picture(buffer.width(), 256, QImage::Format_RGB32);
    for (int row = 0; row < 256; ++row)
        for (int x = 0; x < buffer.width(); ++x)
            picture.setPixel(x, row, 0xFF000000u | expectedWord(buffer, x, row, y));
    return picture;
}

// Index of the first differing pixel as "x,row: got/expected", empty when equal.
inline QString firstDifference(const QImage& got, const QImage& expected)
{
    if (got.size() != expected.size())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(got.width()).arg(got.height()).arg(expected.width()).arg(expected.height());
    for (int row = 0; row < got.height(); ++row)
        for (int x = 0; x < got.width(); ++x)
            if ((got.pixel(x, row) & 0xFFFFFFu) != (expected.pixel(x, row) & 0xFFFFFFu))
                return QStringLiteral("%1,%2: %3 expected %4")
                    .arg(x).arg(row)
                    .arg(got.pixel(x, row) & 0xFFFFFFu, 6, 16, QLatin1Char('0'))
                    .arg(expected.pixel(x, row) & 0xFFFFFFu, 6, 16, QLatin1Char('0'));
    return QString();
}

// A gray buffer whose every pixel is f(x, y).
inline boost::shared_ptr<FrameBuffer> grayBuffer(int width, int height, int bpp,
                                                 const std::function<std::uint64_t(int, int)>& f)
{
    boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(width, height, bpp, true));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            buffer->setPixelValueGray(x, y, f(x, y));
    buffer->setComplete();
    return buffer;
}

inline boost::shared_ptr<DisplaySceneFrame> frameOf(const boost::shared_ptr<FrameBuffer>& buffer)
{
    boost::shared_ptr<DisplaySceneFrame> frame(new DisplaySceneFrame(8, 8));
    frame->setFrameBuffer(buffer);
    return frame;
}

} // namespace profiletest
