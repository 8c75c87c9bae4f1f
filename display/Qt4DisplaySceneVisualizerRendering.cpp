// Frames on screen: the frame hand-over, the pixel-value text, the render time and the
// timed render interrupt (GUI thread).

#include "display/Qt4DisplaySceneVisualizer.h"
#include "display/Qt4DisplaySceneVisualizerD.h"
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

namespace {

// Hexadecimal digits for a value of that depth: one per started group of four bits.
int hexDigits(int bitsPerPixel)
{
    return bitsPerPixel / 4 + (bitsPerPixel % 4 != 0 ? 1 : 0);
}

QString formatValue(std::uint64_t value, bool hex, int digits)
{
    return hex ? QStringLiteral("0x%1").arg(value, digits, 16, QLatin1Char('0'))
               : QStringLiteral("%1").arg(value);
}

} // namespace

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
    d->frameStepSize = frame->stepSize();
    d->framePixelSize = frame->pixelSize();
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
    if (!d->showPixelValues || d->frameZoomValue < 11 || !buffer)
        return;

    QPainter painter(&pixmap);
    if (d->frameZoomValue == 11) {
        QFont font = painter.font();
        font.setPointSize(6);
        painter.setFont(font);
    }
    const int cell = d->framePixelSize;
    if (cell <= 0)
        return;
    const int columns = pixmap.width() / cell + (pixmap.width() % cell ? 1 : 0);
    const int rows = pixmap.height() / cell + (pixmap.height() % cell ? 1 : 0);
    const int digits = hexDigits(buffer->bitsPerPixel());
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < columns; ++x) {
            const unsigned ix = static_cast<unsigned>(x + d->frameMinX);
            const unsigned iy = static_cast<unsigned>(y + d->frameMinY);
            QString text;
            if (buffer->isGray()) {
                std::uint64_t value = 0;
                if (!buffer->getPixelValueGray(ix, iy, &value))
                    continue;
                text = formatValue(value, d->hexDisplay, digits);
            } else {
                std::uint64_t r = 0, g = 0, b = 0;
                if (!buffer->getPixelValueColor(ix, iy, &r, &g, &b))
                    continue;
                text = QStringLiteral("R: %1\nG: %2\nB: %3")
                           .arg(formatValue(r, d->hexDisplay, digits),
                                formatValue(g, d->hexDisplay, digits),
                                formatValue(b, d->hexDisplay, digits));
            }
            // Readable on any background: the canvas colour one pixel inside the cell
            // with bit 6 of each channel flipped.
            // (A last partial cell one pixel wide has no such pixel: take its edge.)
            const QRgb under = image.pixel(std::min(cell * x + 1, image.width() - 1),
                                           std::min(cell * y + 1, image.height() - 1));
            painter.setPen(QColor(qRed(under) ^ 0x40, qGreen(under) ^ 0x40, qBlue(under) ^ 0x40));
            painter.drawText(QRect(cell * x, cell * y, cell, cell), Qt::AlignCenter, text);
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
