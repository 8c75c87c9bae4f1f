#pragma once

#include "frame/HandOverAnnotations.h"
#include "frame/NearestScale.h"

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QThread>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <mutex>

namespace vexo {
namespace core {

// What the line tools' workers share: the request (a frame and one of its lines), the
// pictures a run draws into and hands over, and the hand-over of requests from the tool's dialog. A
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

    // Guards frame, yPosition, fitSize, picture, fitted, spare and spareFitted. The GUI thread
    // holds it to change the request and to take or give back a picture; a run holds it only
    // to copy the request at its start and to swap pictures. Nobody draws, copies or frees
    // pixels while holding it.
    std::mutex mutex;

    // The request, replaced by the GUI thread at any time, also during a run. A run copies
    // both once at its start, so it always works on one consistent frame and line.
    boost::shared_ptr<DisplaySceneFrame> frame;
    int yPosition = 0;
    // The size of a canvas that shows the picture scaled, or empty. A run then makes that
    // scaled copy too, so that the GUI thread need not read the whole picture for it; a
    // canvas of another size by then scales for itself.
    QSize fitSize;

    // GUI thread only: a run was requested and not yet started, because the dialog was
    // hidden or a run was still in progress.
    bool startPending = false;

    // The pictures (RGB32, pictureHeight rows). Each has one holder at a time, so a finished
    // picture changes hands without a copy, however long the line: `picture` is the newest
    // finished one the GUI thread has not taken yet, `spare` one it gave back for the next
    // run to draw into, `drawn` the run's own while it draws (worker thread only). A run
    // starts only once the last result was taken, so the one on screen and the one drawn are
    // all there are; a store is made anew only for a new width, or when the picture given
    // back was still shared.
    QImage picture;
    QImage spare;
    QImage drawn;
    // `picture` scaled to the fitSize of its run, handed over with it; null if none asked.
    // The GUI thread copies it out and gives it back at once, as `spareFitted`, which the
    // next run scales into.
    QImage fitted;
    QImage spareFitted;

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

    void setFitSize(const QSize& size)
    {
        std::lock_guard<std::mutex> lock(mutex);
        fitSize = size;
    }

    // With no run in progress: drops the pictures so the next run makes one anew. They are
    // freed after the lock is released.
    void freePicture()
    {
        QImage finished, scaled, given, givenScaled;
        std::lock_guard<std::mutex> lock(mutex);
        finished.swap(picture);
        scaled.swap(fitted);
        given.swap(spare);
        givenScaled.swap(spareFitted);
    }

    // The request changed: runs it now if the dialog is visible and no run is in progress,
    // else keeps it until the dialog is shown or the last run's result was taken.
    void requestRun(bool visible)
    {
        startPending = true;
        startPendingRun(visible);
    }

    // Starts the kept request, if any, when the dialog is visible and the worker idle; the
    // dialog calls it again on each result. A run in progress took its request before this
    // one came, so the request stays kept: start() would do nothing then. A run that is only
    // posting its finished() counts as ended (start() waits for it), so no request stays
    // behind without a result still to come. Nor does a run start while a result waits to be
    // taken (its finished() is still to come): a run then would need a third store, made
    // and freed again whenever frames come faster than the GUI thread takes results.
    void startPendingRun(bool visible)
    {
        if (!visible || !startPending || isRunning() || resultWaiting())
            return;
        startPending = false;
        start(QThread::InheritPriority);
    }

    // GUI thread: a run finished a picture that was not taken yet.
    bool resultWaiting()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return !picture.isNull();
    }

    // The frame is gone: a kept request for it is dropped rather than run on showing.
    void dropPendingRun() { startPending = false; }

    // GUI thread: moves the newest finished picture into `taken` and its scaled copy, if
    // any, into `takenFitted`; false if there is none since the last take (a run that drew
    // nothing, or its picture was taken already).
    bool takePicture(QImage& taken, QImage* takenFitted = nullptr)
    {
        QImage newest, newestFitted;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (picture.isNull())
                return false;
            newest.swap(picture);
            newestFitted.swap(fitted);
        }
        // What the outputs held goes outside the lock.
        taken.swap(newest);
        if (takenFitted)
            takenFitted->swap(newestFitted);
        return true;
    }

    // GUI thread: if a run brought a picture since the last call, `shown` becomes it and
    // `pixmap` a pixmap of it (on raster surfaces sharing its pixels). Returns the picture
    // shown before, for recyclePicture() once the canvases dropped their pixmaps of it; null
    // if nothing new came.
    QImage showNewestPicture(QImage& shown, QPixmap& pixmap, QImage* shownFitted = nullptr)
    {
        QImage previous;
        if (!takePicture(previous, shownFitted))
            return QImage();
        previous.swap(shown);
        pixmap = QPixmap::fromImage(shown, Qt::AutoColor);
        return previous;
    }

    // GUI thread: gives a picture back once nothing shows it any more, for a later run to
    // draw into. One still shared (a pixmap, a copy) is only let go: a run must never draw
    // into pixels someone reads.
    void recyclePicture(QImage&& shown) { giveBack(std::move(shown), spare); }

    // GUI thread: the same for a scaled copy taken with a picture, once copied out.
    void recycleFitted(QImage&& taken) { giveBack(std::move(taken), spareFitted); }

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

    // GUI thread: `store` becomes `place` unless someone else still holds it; what either
    // held before is freed after the lock is released.
    void giveBack(QImage&& store, QImage& place)
    {
        QImage old = std::move(store);
        if (old.isNull() || !old.isDetached())
            return;
        std::lock_guard<std::mutex> lock(mutex);
        old.swap(place);
    }

    // Worker thread: reads line y of source and draws it into the pixels claimPicture()
    // hands out. Drawing nothing keeps the previous picture.
    virtual void drawLine(const FrameBuffer& source, int y) = 0;

    // Worker thread, from drawLine(): the pixels of the picture this run draws, width x
    // pictureHeight words, all of which the drawing must write; null if there are none (an
    // empty line, or no memory for the picture), and then nothing must be drawn.
    std::uint32_t* claimPicture(int width)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            drawn.swap(spare);
        }
        if (drawn.isNull() || drawn.width() != width) {
            drawn = QImage(); // the old store before the new one is made
            if (width > 0)
                drawn = QImage(width, pictureHeight, QImage::Format_RGB32);
        }
        // A store given back has no other holder, so this does not copy.
        return drawn.isNull() ? nullptr : reinterpret_cast<std::uint32_t*>(drawn.bits());
    }

    void run() override
    {
        boost::shared_ptr<DisplaySceneFrame> request;
        int y = 0;
        QSize fit;
        {
            std::lock_guard<std::mutex> lock(mutex);
            request = frame;
            y = yPosition;
            fit = fitSize;
        }
        const boost::shared_ptr<FrameBuffer> source = request ? request->frameBuffer() : nullptr;
        // Only the buffer is read: the frame (a canvas the scene lends) goes back to its pool
        // now rather than after the drawing, so a run never makes the scene lend one more.
        request.reset();
        if (source)
            drawLine(*source, y);
        // Nearest neighbour, as the canvases scale: each sample stays a block of whole pixels.
        // Scaled into the copy given back, which nobody reads any more.
        QImage scaled;
        if (!drawn.isNull() && !fit.isEmpty()) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                scaled.swap(spareFitted);
            }
            scaleNearest(drawn, fit, scaled);
        }
        QImage superseded;
        QImage supersededFitted;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!drawn.isNull()) {
                // A result nobody took is older than this one: the next run may draw into it.
                superseded.swap(picture);
                picture.swap(drawn);
                supersededFitted.swap(fitted);
                fitted.swap(scaled);
                if (spare.isNull())
                    spare.swap(superseded);
                if (spareFitted.isNull())
                    spareFitted.swap(supersededFitted);
            }
        }
        // Marks everything the run did as visible to whoever accepts the hand-over on this
        // object: the dialog, on finished() or after waiting.
        templates::platform::announceHandOver(this);
    }
};

} // namespace core
} // namespace vexo
