#pragma once

// Shared by the line histogram tests: frames to feed the tool, the picture the drawing
// rules give for a line (worked out here pixel by pixel, independently of the worker), a
// worker run on the caller's thread, and a frame buffer that holds a run at a gate.

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
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace vexo {
namespace core {

struct LineHistogramInspector
{
    static Qt4LineHistogramDialog::D& d(Qt4LineHistogramDialog* dialog) { return *dialog->d; }
    static Qt4LineHistogramThread& worker(Qt4LineHistogramDialog* dialog)
    {
        return *dialog->d->thread;
    }
    static Qt4LineHistogramCanvas::D& d(Qt4LineHistogramCanvas* canvas) { return *canvas->d; }
};

} // namespace core
} // namespace vexo

namespace histogramtest {

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::Qt4LineHistogramThread;

// The worker's run, callable on the test's own thread.
struct DirectRun : Qt4LineHistogramThread
{
    using Qt4LineHistogramThread::run;
};

struct Rgb
{
    std::uint64_t r = 0, g = 0, b = 0;
};

// value(x, y) for gray buffers, colour(x, y) for colour ones.
using GrayFill = std::function<std::uint64_t(int x, int y)>;
using ColourFill = std::function<Rgb(int x, int y)>;

inline boost::shared_ptr<DisplaySceneFrame> frameOver(const boost::shared_ptr<FrameBuffer>& buffer)
{
    auto frame = boost::make_shared<DisplaySceneFrame>(4, 4);
    frame->setFrameBuffer(buffer);
    return frame;
}

inline boost::shared_ptr<FrameBuffer> grayBuffer(int width, int height, int bits, const GrayFill& fill)
{
    auto buffer = boost::make_shared<FrameBuffer>(width, height, bits, true);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            buffer->setPixelValueGray(x, y, fill(x, y));
    buffer->setComplete();
    return buffer;
}

inline boost::shared_ptr<FrameBuffer> colourBuffer(int width, int height, int bits,
                                                   const ColourFill& fill)
{
    auto buffer = boost::make_shared<FrameBuffer>(width, height, bits, false);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgb c = fill(x, y);
            buffer->setPixelValueColor(x, y, c.r, c.g, c.b);
        }
    buffer->setComplete();
    return buffer;
}

inline boost::shared_ptr<DisplaySceneFrame> grayFrame(int width, int height, int bits,
                                                      const GrayFill& fill)
{
    return frameOver(grayBuffer(width, height, bits, fill));
}

// --- The drawing rules, one pixel at a time ---

inline int ruleBin(std::uint64_t value, int bits)
{
    // Multiplying instead of shifting left keeps huge values from wrapping round.
    const double scaled = bits < 8 ? static_cast<double>(value) * (1 << (8 - bits))
                                   : static_cast<double>(value >> (bits - 8));
    return scaled > 255 ? 255 : static_cast<int>(scaled);
}

inline int ruleHeight(std::uint64_t count, std::uint64_t largest)
{
    if (largest == 0)
        return 0;
    const double h = std::floor(256.0 * std::log10(1.0 + 9.0 * count / static_cast<double>(largest)));
    return std::clamp(static_cast<int>(h), 0, 255);
}

// Words 0x00RRGGBB, row-major, row 0 at the top.
inline QVector<std::uint32_t> rulePicture(const FrameBuffer& buffer, int y)
{
    const int channels = buffer.isGray() ? 1 : 3;
    std::array<std::array<std::uint64_t, 256>, 3> counts{};
    for (int x = 0; x < buffer.width(); ++x) {
        std::uint64_t v[3] = {0, 0, 0};
        if (channels == 1)
            buffer.getPixelValueGray(x, y, &v[0]);
        else
            buffer.getPixelValueColor(x, y, &v[0], &v[1], &v[2]);
        for (int c = 0; c < channels; ++c)
            ++counts[c][ruleBin(v[c], buffer.bitsPerPixel())];
    }
    std::uint64_t largest = 0;
    for (int c = 0; c < channels; ++c)
        for (std::uint64_t n : counts[c])
            largest = std::max(largest, n);

    QVector<std::uint32_t> picture(256 * 256, 0);
    static const std::uint32_t tops[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    static const std::uint32_t bodies[3] = {0x440000, 0x004400, 0x000044};
    for (int b = 0; b < 256; ++b) {
        int h[3];
        for (int c = 0; c < channels; ++c)
            h[c] = ruleHeight(counts[c][b], largest);
        for (int r = 0; r < 256; ++r) {
            const int level = 255 - r;
            std::uint32_t word = 0;
            if (channels == 1) {
                word = h[0] == level ? 0xFFFFFF : h[0] > level ? 0x444444 : 0;
            } else {
                for (int c = 0; c < 3; ++c)
                    if (h[c] == level)
                        word += tops[c];
                if (word == 0)
                    for (int c = 0; c < 3; ++c)
                        if (h[c] > level)
                            word += bodies[c];
            }
            picture[r * 256 + b] = word;
        }
    }
    return picture;
}

// The picture of an image as words 0x00RRGGBB (alpha dropped), null image: empty.
inline QVector<std::uint32_t> wordsOf(const QImage& image)
{
    QVector<std::uint32_t> words;
    if (image.isNull())
        return words;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    words.reserve(rgb.width() * rgb.height());
    for (int r = 0; r < rgb.height(); ++r) {
        const auto* line = reinterpret_cast<const std::uint32_t*>(rgb.constScanLine(r));
        for (int b = 0; b < rgb.width(); ++b)
            words.append(line[b] & 0xFFFFFFu);
    }
    return words;
}

inline QVector<std::uint32_t> wordsOf(const Qt4LineHistogramThread& worker)
{
    QVector<std::uint32_t> words;
    if (!worker.buffer)
        return words;
    for (int i = 0; i < 256 * 256; ++i)
        words.append(worker.buffer[i] & 0xFFFFFFu);
    return words;
}

// First differing pixel as "(column, row) got/expected", empty when equal; for messages.
inline QByteArray firstDifference(const QVector<std::uint32_t>& got, const QVector<std::uint32_t>& want)
{
    if (got.size() != want.size())
        return QByteArray("size ") + QByteArray::number(got.size()) + " vs "
               + QByteArray::number(want.size());
    for (int i = 0; i < got.size(); ++i)
        if (got[i] != want[i])
            return QByteArray("(") + QByteArray::number(i % 256) + ", "
                   + QByteArray::number(i / 256) + ") 0x" + QByteArray::number(got[i], 16)
                   + " expected 0x" + QByteArray::number(want[i], 16);
    return QByteArray();
}

// Holds whoever calls pass() until release(); afterwards pass() goes straight through.
class Gate
{
public:
    void pass()
    {
        std::unique_lock<std::mutex> lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [this] { return open; });
    }
    void waitUntilEntered()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return entered; });
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
    }

private:
    std::mutex mutex; // guards entered and open
    std::condition_variable changed;
    bool entered = false;
    bool open = false;
};

// A gray buffer whose width() — the first thing a run asks after taking the frame — waits
// at a gate, so a test can act while a run is certainly in progress.
class GatedBuffer : public FrameBuffer
{
public:
    GatedBuffer(int width, int height, int bits)
        : FrameBuffer(width, height, bits, true)
    {
    }
    int width() const override
    {
        gate.pass();
        return FrameBuffer::width();
    }
    mutable Gate gate;
};

} // namespace histogramtest
