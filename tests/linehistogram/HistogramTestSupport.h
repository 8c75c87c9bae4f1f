#pragma once

// Shared by the line histogram tests: frames to feed the tool, the picture the drawing
// rules give for a line (worked out here pixel by pixel, independently of the worker), and
// a frame buffer that holds a run until released.

#include "linehistogram/Qt4LineHistogramCanvas.h"
#include "linehistogram/Qt4LineHistogramCanvasD.h"
#include "linehistogram/Qt4LineHistogramDialog.h"
#include "linehistogram/Qt4LineHistogramDialogD.h"
#include "linehistogram/Qt4LineHistogramThread.h"

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QImage>
#include <QVector>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <thread>

namespace vexo {
namespace core {

struct LineHistogramInspector
{
    static Qt4LineHistogramDialog::D& d(Qt4LineHistogramDialog* dialog) { return *dialog->d; }
    static Qt4LineHistogramThread& worker(Qt4LineHistogramDialog* dialog) { return *dialog->d->thread; }
    static Qt4LineHistogramCanvas::D& d(Qt4LineHistogramCanvas* canvas) { return *canvas->d; }
};

} // namespace core
} // namespace vexo

// Pictures compared as words 0x00RRGGBB; a failure names the first differing pixel.
#define COMPARE_WORDS(got, want)                                                              \
    do {                                                                                      \
        const QVector<std::uint32_t> got_ = (got), want_ = (want);                            \
        QVERIFY2(got_ == want_, histogramtest::firstDifference(got_, want_).constData());     \
    } while (false)

namespace histogramtest {

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::Qt4LineHistogramThread;
using Frame = boost::shared_ptr<DisplaySceneFrame>;
using Rgb = std::array<std::uint64_t, 3>;

inline Frame frameOver(const boost::shared_ptr<FrameBuffer>& buffer)
{
    auto frame = boost::make_shared<DisplaySceneFrame>(4, 4);
    frame->setFrameBuffer(buffer);
    return frame;
}

// Gray buffers take the first value of fill(x, y).
inline boost::shared_ptr<FrameBuffer> makeBuffer(int width, int height, int bits, bool gray,
                                                 const std::function<Rgb(int x, int y)>& fill)
{
    auto buffer = boost::make_shared<FrameBuffer>(width, height, bits, gray);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgb c = fill(x, y);
            if (gray)
                buffer->setPixelValueGray(x, y, c[0]);
            else
                buffer->setPixelValueColor(x, y, c[0], c[1], c[2]);
        }
    buffer->setComplete();
    return buffer;
}

// The picture the rules give for line y: words 0x00RRGGBB, row-major, row 0 at the top.
inline QVector<std::uint32_t> rulePicture(const FrameBuffer& buffer, int y)
{
    const int channels = buffer.isGray() ? 1 : 3;
    const int bits = buffer.bitsPerPixel();
    std::array<std::array<std::uint64_t, 256>, 3> counts{};
    for (int x = 0; x < buffer.width(); ++x) {
        std::uint64_t v[3] = {0, 0, 0};
        if (channels == 1)
            buffer.getPixelValueGray(x, y, &v[0]);
        else
            buffer.getPixelValueColor(x, y, &v[0], &v[1], &v[2]);
        for (int c = 0; c < channels; ++c) {
            // Multiplying instead of shifting left keeps huge values from wrapping round.
            const double bin = bits < 8 ? double(v[c]) * (1 << (8 - bits)) : double(v[c] >> (bits - 8));
            ++counts[c][bin > 255 ? 255 : int(bin)];
        }
    }
    double largest = 0;
    for (int c = 0; c < channels; ++c)
        largest = std::max(largest, double(*std::max_element(counts[c].begin(), counts[c].end())));

    QVector<std::uint32_t> picture(256 * 256, 0);
    for (int b = 0; b < 256; ++b) {
        int h[3];
        for (int c = 0; c < channels; ++c)
            h[c] = largest == 0 ? 0 : std::min(255, int(std::floor(256.0 * std::log10(1.0 + 9.0 * counts[c][b] / largest))));
        for (int r = 0; r < 256; ++r) {
            std::uint32_t top = 0;
            std::uint32_t body = 0;
            for (int c = 0; c < channels; ++c) {
                const std::uint32_t channel = channels == 1 ? 0xFFFFFFu : 0xFF0000u >> (8 * c);
                top |= h[c] == 255 - r ? channel : 0u;
                body |= h[c] > 255 - r ? channel & 0x444444u : 0u;
            }
            picture[r * 256 + b] = top != 0 ? top : body; // a top hides the bodies
        }
    }
    return picture;
}

// An image as words 0x00RRGGBB (alpha dropped); a null image gives none.
inline QVector<std::uint32_t> wordsOf(const QImage& image)
{
    QVector<std::uint32_t> words;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int r = 0; r < rgb.height(); ++r) {
        const auto* line = reinterpret_cast<const std::uint32_t*>(rgb.constScanLine(r));
        for (int b = 0; b < rgb.width(); ++b)
            words.append(line[b] & 0xFFFFFFu);
    }
    return words;
}

// The first differing pixel of two 256-wide pictures, empty when they are equal.
inline QByteArray firstDifference(const QVector<std::uint32_t>& got, const QVector<std::uint32_t>& want)
{
    if (got.size() != want.size())
        return "size " + QByteArray::number(got.size()) + " vs " + QByteArray::number(want.size());
    for (int i = 0; i < got.size(); ++i)
        if (got[i] != want[i])
            return "(" + QByteArray::number(i % 256) + ", " + QByteArray::number(i / 256) + ") 0x"
                   + QByteArray::number(got[i], 16) + " expected 0x" + QByteArray::number(want[i], 16);
    return QByteArray();
}

// A gray buffer whose width(), the first thing a run asks after taking its request, waits
// until released, so a test can act while a run is certainly in progress.
class GatedBuffer : public FrameBuffer
{
public:
    GatedBuffer(int width, int height, int bits)
        : FrameBuffer(width, height, bits, true)
    {
    }
    int width() const override
    {
        entered = true;
        while (!open)
            std::this_thread::yield();
        return FrameBuffer::width();
    }
    void waitUntilEntered() const
    {
        while (!entered)
            std::this_thread::yield();
    }
    void release() { open = true; }

private:
    mutable std::atomic<bool> entered{false};
    std::atomic<bool> open{false};
};

} // namespace histogramtest
