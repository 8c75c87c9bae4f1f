#pragma once

// Shared by the line histogram tests: white-box access, frames to feed the tool, the
// worker's own run on the test's thread, and a frame buffer that holds a run until released.

#include "linehistogram/Qt4LineHistogramCanvas.h"
#include "linehistogram/Qt4LineHistogramCanvasD.h"
#include "linehistogram/Qt4LineHistogramDialog.h"
#include "linehistogram/Qt4LineHistogramDialogD.h"
#include "linehistogram/Qt4LineHistogramThread.h"

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <boost/make_shared.hpp>

#include <atomic>
#include <functional>
#include <thread>

namespace vexo::core {
struct LineHistogramInspector
{
    static Qt4LineHistogramDialog::D& d(Qt4LineHistogramDialog* dialog) { return *dialog->d; }
    static Qt4LineHistogramCanvas::D& d(Qt4LineHistogramCanvas* canvas) { return *canvas->d; }
};
} // namespace vexo::core

namespace histogramtest {

using vexo::core::FrameBuffer;
using vexo::core::Qt4LineHistogramThread;
using Frame = boost::shared_ptr<vexo::core::DisplaySceneFrame>;

inline Frame frameOver(const boost::shared_ptr<FrameBuffer>& buffer)
{
    auto frame = boost::make_shared<vexo::core::DisplaySceneFrame>(4, 4);
    frame->setFrameBuffer(buffer);
    return frame;
}

// Sample c (0 for gray, R G B for colour) of pixel (x, y) is fill(x, y, c).
inline Frame frameOf(int width, int height, int bits, bool gray, const std::function<std::uint64_t(int, int, int)>& fill)
{
    auto buffer = boost::make_shared<FrameBuffer>(width, height, bits, gray);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            gray ? buffer->setPixelValueGray(x, y, fill(x, y, 0))
                 : buffer->setPixelValueColor(x, y, fill(x, y, 0), fill(x, y, 1), fill(x, y, 2));
    buffer->setComplete();
    return frameOver(buffer);
}

// An image as words 0x00RRGGBB (alpha dropped), row by row.
inline QVector<std::uint32_t> wordsOf(const QImage& image)
{
    QVector<std::uint32_t> words;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int r = 0; r < rgb.height(); ++r)
        for (int b = 0; b < rgb.width(); ++b)
            words.append(rgb.pixel(b, r) & 0xFFFFFFu);
    return words;
}

struct DirectRun : Qt4LineHistogramThread { using Qt4LineHistogramThread::run; };

// What the worker draws for line y of the frame; what the dialog must then show.
inline QVector<std::uint32_t> runOn(const Frame& frame, int y)
{
    DirectRun worker;
    worker.setFrame(frame);
    worker.setYPosition(y);
    worker.run();
    return worker.image ? wordsOf(*worker.image) : QVector<std::uint32_t>();
}

// A gray buffer whose width(), the first thing a run asks after taking its request, waits
// until released, so a test can act while a run is certainly in progress.
struct GatedBuffer : FrameBuffer
{
    GatedBuffer(int width, int height) : FrameBuffer(width, height, 8, true) {}
    int width() const override
    {
        for (entered = true; !open;)
            std::this_thread::yield();
        return FrameBuffer::width();
    }
    mutable std::atomic<bool> entered{false}, open{false};
};

} // namespace histogramtest
