#include "linehistogram/Qt4LineHistogramDialog.h"

#include "linehistogram/Qt4LineHistogramDialogD.h"
#include "linehistogram/Qt4LineHistogramThread.h"

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QImage>

#include <algorithm>

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
    d->thread->waitForRun();
}

void Qt4LineHistogramDialog::requestHistogram(boost::shared_ptr<DisplaySceneFrame> frame)
{
    d->thread->setFrame(std::move(frame));
    d->thread->requestRun(isVisible());
}

void Qt4LineHistogramDialog::yPositionChanged(int value)
{
    d->thread->setYPosition(value);
    d->thread->requestRun(isVisible());
}

void Qt4LineHistogramDialog::showEvent(QShowEvent*)
{
    d->thread->startPendingRun(true);
}

void Qt4LineHistogramDialog::resizeEvent(QResizeEvent*)
{
    // The canvas rescales the same picture itself; nothing is computed again.
    histogramWidget->update();
}

void Qt4LineHistogramDialog::newHistogramAvailable()
{
    // A run that ends after the tool was cleared brings nothing to show.
    if (!d->frame)
        return;

    yPositionLabel->setEnabled(true);
    yPositionSpinBox->setEnabled(true);
    stackedWidget->setCurrentIndex(histogramPage);

    // A run that drew nothing leaves the picture on screen as it was.
    QImage previous = d->thread->showNewestPicture(d->picture, d->pixmap);

    histogramWidget->setPixmap(&d->pixmap);
    histogramWidget->update();
    // No pixmap shows the previous picture any more: a later run may draw into it.
    d->thread->recyclePicture(std::move(previous));

    // A request that came during this run was kept for now.
    d->thread->startPendingRun(isVisible());
}

void Qt4LineHistogramDialog::clearHistogram()
{
    waitForThread();
    // The line the clearing moved asked for the frame that goes now.
    d->thread->dropPendingRun();
    // The next run allocates anew.
    d->thread->freePicture();
    histogramWidget->setPixmap(nullptr);
    yPositionLabel->setEnabled(false);
    yPositionSpinBox->setEnabled(false);
    stackedWidget->setCurrentIndex(noBufferPage);
}

} // namespace core
} // namespace vexo
