// Frames on screen: the frame hand-over, the pixel-value text, the render time and the
// timed render interrupt (GUI thread).

#include "display/Qt4DisplaySceneVisualizer.h"
#include "display/Qt4DisplaySceneVisualizerD.h"
#include "frame/PixelValue.h"
#include "frame/SpinLockVariableGuard.h"
#include "linehistogram/Qt4LineHistogramDialog.h"
#include "lineprofile/Qt4LineProfileDialog.h"

#include "vexo-core/StopWatch.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QTimer>

#include <algorithm>

namespace vexo {
namespace core {

using vexo::templates::platform::SpinLockVariableGuard;

void Qt4DisplaySceneVisualizer::processSceneFrameChanged()
{
    boost::shared_ptr<DisplaySceneFrame> frame;
    double renderFps = 0;
    {
        SpinLockVariableGuard guard(&d->frameLock);
        frame = d->pendingFrame;
        renderFps = d->pendingRenderFps;
    }

    const bool showable = d->grabbing ? d->bufferCount.load() != 0 : d->validBufferCount != 0;
    if (!showable || !frame) {
        freeSceneFrame(frame);
        d->frameEventPending.store(false);
        return;
    }

    d->currentFrameBuffer = frame->frameBuffer();
    ++d->renderedFrames;
    d->renderFps = renderFps;
    updateDisplayFps();

    const boost::shared_ptr<FrameBuffer> buffer = frame->frameBuffer();
    dataHeaderLabel->setText(buffer && !buffer->isGray() ? QStringLiteral("Data (R,G,B): ")
                                                         : QStringLiteral("Data (Gray): "));
    d->frameMinX = frame->minX();
    d->frameMinY = frame->minY();
    d->frameZoomValue = frame->zoomValue();
    updateMouseData();

    canvasWidget->setSceneFrame(frame);
    d->lineProfileDialog->setSceneFrame(frame);
    d->lineHistogramDialog->setSceneFrame(frame);
    updateRenderTime(true, frame->renderTimeInMicroseconds());

    freeSceneFrame(frame);
    d->frameEventPending.store(false);
}

void Qt4DisplaySceneVisualizer::polishPixmap(QPixmap& pixmap, const QImage& image)
{
    const boost::shared_ptr<FrameBuffer> buffer = d->currentFrameBuffer.lock();
    const ZoomStep zoom = d->frameZoom();
    if (!d->showPixelValues || !zoom.fitsValueText() || !buffer)
        return;

    QPainter painter(&pixmap);
    // The smallest cells that carry text take a smaller font.
    if (zoom.value() == ZoomStep::firstValueTextStep) {
        QFont font = painter.font();
        font.setPointSize(6);
        painter.setFont(font);
    }
    const int cell = zoom.pixelSize();
    const int columns = pixmap.width() / cell + (pixmap.width() % cell ? 1 : 0);
    const int rows = pixmap.height() / cell + (pixmap.height() % cell ? 1 : 0);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < columns; ++x) {
            const PixelValue value(*buffer, static_cast<unsigned>(x + d->frameMinX),
                                   static_cast<unsigned>(y + d->frameMinY));
            if (!value.isValid())
                continue;
            // Readable on any background: the canvas colour one pixel inside the cell
            // with bit 6 of each channel flipped.
            // (A last partial cell one pixel wide has no such pixel: take its edge.)
            const QRgb under =
                image.pixel(std::min(cell * x + 1, image.width() - 1), std::min(cell * y + 1, image.height() - 1));
            painter.setPen(QColor(qRed(under) ^ 0x40, qGreen(under) ^ 0x40, qBlue(under) ^ 0x40));
            painter.drawText(QRect(cell * x, cell * y, cell, cell), Qt::AlignCenter,
                             QString::fromStdString(value.cellText(d->hexDisplay)));
        }
    }
}

void Qt4DisplaySceneVisualizer::updateRenderTime(bool valid, std::uint64_t microseconds)
{
    d->renderTimeLabel->setText(valid ? QStringLiteral("Render Time (microseconds): <b>%1</b>").arg(microseconds)
                                      : QStringLiteral("Render Time (microseconds): <b>-</b>"));
    d->renderTimeLabel->setEnabled(valid);
}

void Qt4DisplaySceneVisualizer::processRequestTimedInterrupt(boost::shared_ptr<StopWatch> stopWatch,
                                                             std::uint64_t microseconds)
{
    const std::uint64_t elapsed = stopWatch->elapsedMicroseconds(false);
    if (elapsed >= microseconds) {
        renderInterruptTimeout();
        return;
    }
    // Never shorter than what remains, and never 0; a later request replaces this one.
    d->renderInterruptTimer->start(static_cast<int>((microseconds - elapsed) / 1000 + 1));
}

void Qt4DisplaySceneVisualizer::renderInterruptTimeout()
{
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->timerInterrupt();
}

} // namespace core
} // namespace vexo
