#pragma once

#include <QThread>

#include <boost/shared_ptr.hpp>

#include <mutex>

class QImage;

namespace vexo {
namespace core {

class DisplaySceneFrame;

// The line profile tool's worker: reads one image line of a frame and draws it as a filled
// curve into a 256-row RGB picture (row r stands for the level 255 - r). Each start() makes
// one run and ends; finished() follows every run, also one that found nothing to draw.
//
// Threads: run() on the worker thread; everything else on the GUI thread, except that the
// dialog's waitForThread() may wait for it from the scene's notification thread.
struct Qt4LineProfileThread : public QThread
{
    Qt4LineProfileThread() = default;
    // Waits for a run in progress, then frees the picture and lets go of the frame.
    ~Qt4LineProfileThread() override;

    Qt4LineProfileThread(const Qt4LineProfileThread&) = delete;
    Qt4LineProfileThread& operator=(const Qt4LineProfileThread&) = delete;

    // Guards frame, yPosition and drawing. The GUI thread holds it to change the request and
    // to read or free the picture; a run holds it only to copy the request at its start and
    // to mark the end of its drawing. Nobody draws or converts pixels while holding it for
    // long: the GUI thread converts one picture under it, the worker never waits on the GUI.
    std::mutex mutex;

    // The request, replaced by the GUI thread at any time, also during a run. A run copies
    // both once at its start, so it always works on one consistent frame and line.
    boost::shared_ptr<DisplaySceneFrame> frame;
    int yPosition = 0;

    // Set while a run may write buffer or replace image. The GUI thread reads the picture
    // only while it is clear; a run that is busy will post another finished() when done.
    bool drawing = false;

    // GUI thread only: a run was requested while the dialog was hidden.
    bool startPending = false;

    // The picture: image wraps buffer (bufferWidth x 256 words, 0x00RRGGBB) without a copy.
    // Written by a run while drawing is set; otherwise read and freed by the GUI thread
    // under mutex. Kept between runs and made anew only when the line width changes.
    QImage* image = nullptr;
    unsigned char* buffer = nullptr;
    int bufferWidth = 0;

    // GUI thread, with no run in progress: frees the picture so the next run makes it anew.
    void freePicture();

protected:
    void run() override;
};

} // namespace core
} // namespace vexo
