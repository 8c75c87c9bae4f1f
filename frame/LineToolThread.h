#pragma once

#include "frame/HandOverAnnotations.h"

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QImage>
#include <QThread>

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

namespace vexo {
namespace core {

// What the line tools' workers share: the request (a frame and one of its lines), the
// picture store a run draws into, and the hand-over of requests from the tool's dialog. A
// tool reads the line and draws its picture (RGB32, pictureHeight rows) in drawLine(). Each
// start() makes one run and ends; finished() follows every run, also one that found nothing
// to draw.
//
// Header only: each tool's objects then carry it, so a program that links one tool alone
// (the benchmarks do) needs nothing else.
//
// Threads: run() and drawLine() on the worker thread; everything else on the GUI thread,
// except waitForRun(), which the scene's notification thread calls through the dialog.
struct LineToolThread : public QThread
{
    static constexpr int pictureHeight = 256;

    // A tool's destructor waits for a run in progress first: a run calls into the tool.
    ~LineToolThread() override
    {
        waitForRun();
        freePicture();
    }

    // Guards frame, yPosition and drawing. The GUI thread holds it to change the request and
    // to copy or free the picture; a run holds it only to copy the request at its start and
    // to mark the start and end of its drawing. Nobody draws while holding it; the GUI thread
    // copies one picture under it, and the worker never waits on the GUI.
    std::mutex mutex;

    // The request, replaced by the GUI thread at any time, also during a run. A run copies
    // both once at its start, so it always works on one consistent frame and line.
    boost::shared_ptr<DisplaySceneFrame> frame;
    int yPosition = 0;

    // Set while a run may write buffer or replace image. The GUI thread reads the picture
    // only while it is clear; a run that is busy will post another finished() when done.
    bool drawing = false;

    // GUI thread only: a run was requested and not yet started, because the dialog was
    // hidden or a run was still in progress.
    bool startPending = false;

    // The picture: image wraps buffer (bufferWidth x pictureHeight words) without a copy.
    // Written by a run while drawing is set; otherwise read and freed by the GUI thread
    // under mutex. Kept between runs and made anew only when the width changes.
    std::unique_ptr<QImage> image;
    std::unique_ptr<std::uint32_t[]> buffer;
    int bufferWidth = 0;

    void setFrame(boost::shared_ptr<DisplaySceneFrame> newFrame)
    {
        std::lock_guard<std::mutex> lock(mutex);
        // The previous frame goes with the parameter, after the lock is released.
        frame.swap(newFrame);
    }

    void setYPosition(int y)
    {
        std::lock_guard<std::mutex> lock(mutex);
        yPosition = y;
    }

    // With no run in progress: frees the picture so the next run makes it anew. Under the
    // lock so that the last run's writes are ordered before the free.
    void freePicture()
    {
        std::lock_guard<std::mutex> lock(mutex);
        image.reset(); // before the pixels it points into
        buffer.reset();
        bufferWidth = 0;
    }

    // The request changed: runs it now if the dialog is visible and no run is in progress,
    // else keeps it until the dialog is shown or the run in progress has brought its result.
    void requestRun(bool visible)
    {
        startPending = true;
        startPendingRun(visible);
    }

    // Starts the kept request, if any, when the dialog is visible and the worker idle; the
    // dialog calls it again on each result. A run in progress took its request before this
    // one came, so the request stays kept: start() would do nothing then. A run that is only
    // posting its finished() counts as ended (start() waits for it), so no request stays
    // behind without a result still to come.
    void startPendingRun(bool visible)
    {
        if (!visible || !startPending || isRunning())
            return;
        startPending = false;
        start(QThread::InheritPriority);
    }

    // The frame is gone: a kept request for it is dropped rather than run on showing.
    void dropPendingRun() { startPending = false; }

    // Copies the picture out into `picture`; false if there is none or a later run is
    // drawing one (its own finished() brings that one). A copy because the next run
    // overwrites the store; made with memcpy rather than QImage::copy so that race
    // detection sees the read.
    bool copyPicture(QImage& picture)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (drawing || !image)
            return false;
        picture = QImage(bufferWidth, pictureHeight, QImage::Format_RGB32);
        if (bufferWidth > 0)
            std::memcpy(picture.bits(), buffer.get(), pictureBytes(bufferWidth));
        return true;
    }

    // Any thread: blocks until no run is in progress.
    void waitForRun()
    {
        wait();
        // wait() passes the end of the run through Qt's own locks, which the race detector
        // does not see; see run().
        templates::platform::acceptHandOver(this);
    }

protected:
    LineToolThread() = default;

    // Worker thread: reads line y of source and draws it into the pixels claimPicture()
    // hands out, asked for only once the line is read, so that the GUI thread can still
    // take the previous picture meanwhile. Drawing nothing keeps the previous picture.
    virtual void drawLine(const FrameBuffer& source, int y) = 0;

    // Worker thread, from drawLine(): marks the store as being drawn and returns its pixels,
    // made anew for a new width; the drawing must write all of them.
    std::uint32_t* claimPicture(int width)
    {
        {
            // Waits at most for one copy of the previous picture on the GUI thread.
            std::lock_guard<std::mutex> lock(mutex);
            drawing = true;
        }
        if (!buffer || bufferWidth != width) {
            image.reset();
            buffer.reset(new std::uint32_t[pictureBytes(width) / 4]);
            bufferWidth = width;
            image.reset(new QImage(reinterpret_cast<uchar*>(buffer.get()), width, pictureHeight, width * 4,
                                   QImage::Format_RGB32));
        }
        return buffer.get();
    }

    void run() override
    {
        boost::shared_ptr<DisplaySceneFrame> request;
        int y = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            request = frame;
            y = yPosition;
        }
        if (const boost::shared_ptr<FrameBuffer> source = request ? request->frameBuffer() : nullptr)
            drawLine(*source, y);
        {
            std::lock_guard<std::mutex> lock(mutex);
            drawing = false;
        }
        // Marks everything the run did as visible to whoever accepts the hand-over on this
        // object: the dialog, on finished() or after waiting.
        templates::platform::announceHandOver(this);
    }

private:
    static std::size_t pictureBytes(int width) { return static_cast<std::size_t>(width) * pictureHeight * 4; }
};

} // namespace core
} // namespace vexo
