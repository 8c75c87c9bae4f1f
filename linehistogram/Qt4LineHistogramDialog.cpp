#include "linehistogram/Qt4LineHistogramDialog.h"

#include "linehistogram/Qt4LineHistogramDialogD.h"
#include "linehistogram/Qt4LineHistogramThread.h"

#include "frame/HandOverAnnotations.h"

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QImage>

#include <algorithm>
#include <cstring>

namespace vexo {
namespace core {

namespace {

constexpr int noBufferPage = 0;
constexpr int histogramPage = 1;

} // namespace

Qt4LineHistogramDialog::Qt4LineHistogramDialog(QWidget* parent)
    : QDialog(parent, Qt::WindowFlags())
    , d(new D)
{
    setupUi(this);
    resize(640, 480);
    d->thread.reset(new Qt4LineHistogramThread);
    d->thread->startPending = false;
    setSceneFrame(boost::shared_ptr<DisplaySceneFrame>());
    // The worker object belongs to the GUI thread, so finished(), emitted on the worker
    // thread, arrives here queued.
    connect(d->thread.get(), SIGNAL(finished()), this, SLOT(newHistogramAvailable()));
    connect(yPositionSpinBox, SIGNAL(valueChanged(int)), this, SLOT(yPositionChanged(int)));
}

Qt4LineHistogramDialog::~Qt4LineHistogramDialog()
{
    waitForThread();
    d->thread.reset();
}

void Qt4LineHistogramDialog::setSceneFrame(boost::shared_ptr<DisplaySceneFrame> frame)
{
    // A lowered maximum moves the spin box value and so requests a run for the new line
    // right here, before the new frame is requested.
    if (frame) {
        int lines = 0;
        if (const boost::shared_ptr<FrameBuffer> buffer = frame->frameBuffer())
            lines = buffer->height();
        // Kept at 0 or more: a maximum below the minimum would drag the minimum along.
        yPositionSpinBox->setMaximum(std::max(lines - 1, 0));
        requestHistogram(frame);
        d->frame = std::move(frame);
    } else {
        yPositionSpinBox->setMaximum(0);
        clearHistogram();
        d->frame.reset();
    }
}

// Any thread.
void Qt4LineHistogramDialog::waitForThread()
{
    d->thread->wait();
    templates::platform::acceptHandOver(d->thread.get());
}

void Qt4LineHistogramDialog::startWorker()
{
    d->thread->startPending = false;
    // No effect while a run is in progress: that request waits for the next one.
    d->thread->start(QThread::InheritPriority);
}

void Qt4LineHistogramDialog::requestHistogram(boost::shared_ptr<DisplaySceneFrame> frame)
{
    d->thread->setFrame(std::move(frame));
    d->thread->startPending = true;
    if (isVisible())
        startWorker();
}

void Qt4LineHistogramDialog::yPositionChanged(int value)
{
    d->thread->setYPosition(value);
    d->thread->startPending = true;
    if (isVisible())
        startWorker();
}

void Qt4LineHistogramDialog::showEvent(QShowEvent*)
{
    if (d->thread->startPending)
        startWorker();
}

void Qt4LineHistogramDialog::resizeEvent(QResizeEvent*)
{
    // The canvas rescales the same picture itself; nothing is computed again.
    histogramWidget->update();
}

void Qt4LineHistogramDialog::newHistogramAvailable()
{
    templates::platform::acceptHandOver(d->thread.get());
    // A run that ends after the tool was cleared brings nothing to show.
    if (!d->frame)
        return;

    yPositionLabel->setEnabled(true);
    yPositionSpinBox->setEnabled(true);
    stackedWidget->setCurrentIndex(histogramPage);

    // A copy of our own: a pixmap made straight from the worker's image could share its
    // pixels, which the next run overwrites and clearing frees. Copied here rather than by
    // QImage::copy so that race detection sees the read.
    QImage picture(Qt4LineHistogramThread::pictureSize, Qt4LineHistogramThread::pictureSize,
                   QImage::Format_RGB32);
    bool copied = false;
    {
        std::lock_guard<std::mutex> lock(d->thread->pictureLock);
        if (d->thread->image) {
            std::memcpy(picture.bits(), d->thread->buffer.get(),
                        Qt4LineHistogramThread::pictureBytes);
            copied = true;
        }
    }
    if (copied)
        d->pixmap = QPixmap::fromImage(std::move(picture), Qt::AutoColor);

    histogramWidget->setPixmap(&d->pixmap);
    histogramWidget->update();

    if (isVisible() && d->thread->startPending)
        startWorker();
}

void Qt4LineHistogramDialog::clearHistogram()
{
    waitForThread();
    {
        std::lock_guard<std::mutex> lock(d->thread->pictureLock);
        // The next run allocates anew.
        d->thread->image.reset();
        d->thread->buffer.reset();
    }
    histogramWidget->setPixmap(nullptr);
    yPositionLabel->setEnabled(false);
    yPositionSpinBox->setEnabled(false);
    stackedWidget->setCurrentIndex(noBufferPage);
}

} // namespace core
} // namespace vexo
