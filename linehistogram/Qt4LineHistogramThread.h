#pragma once

#include <QThread>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <memory>
#include <mutex>

class QImage;

namespace vexo {
namespace core {

class DisplaySceneFrame;

// The line histogram tool's worker: counts the values of one image line of a frame and draws
// them as a 256 x 256 logarithmic histogram picture. Each start() makes one run and ends.
//
// Threads: run() on the worker thread; everything else on the GUI thread, except that the
// dialog's waitForThread() may wait for it from the scene's notification thread.
struct Qt4LineHistogramThread : public QThread
{
    static constexpr int pictureSize = 256;
    static constexpr int pictureBytes = pictureSize * pictureSize * 4;

    Qt4LineHistogramThread();
    ~Qt4LineHistogramThread() override;

    // GUI thread. The request may be replaced at any time, also during a run; a run copies
    // it once at its start, so it always works on one consistent frame and line.
    void setFrame(boost::shared_ptr<DisplaySceneFrame> newFrame);
    void setYPosition(int y);

    // Guards frame and yPosition.
    std::mutex requestLock;
    boost::shared_ptr<DisplaySceneFrame> frame;
    int yPosition = 0;

    // GUI thread only: a run was requested while the dialog was hidden.
    bool startPending = false;

    // Guards image and buffer, both the pointers and the pixels: a run allocates and draws
    // under it, the GUI thread copies the picture out and frees it under it, so a picture is
    // never read half drawn.
    std::mutex pictureLock;
    std::unique_ptr<QImage> image;          // RGB32 view of buffer, no clean-up of its own
    std::unique_ptr<std::uint32_t[]> buffer; // 256 x 256 words, the pixels of image

protected:
    void run() override;
};

} // namespace core
} // namespace vexo
