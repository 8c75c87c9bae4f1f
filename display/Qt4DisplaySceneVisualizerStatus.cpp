// Status indicators: camera lamps, fill level, frame information, rates and overflow
// counters (GUI thread; the host may report overflow events from any thread).

#include "display/Qt4DisplaySceneVisualizer.h"
#include "display/Qt4DisplaySceneVisualizerD.h"
#include "frame/SpinLockVariableGuard.h"

#include "vexo-lib-display/FrameBuffer.h"

#include <QLabel>
#include <QPixmap>
#include <QTimer>

#include <cmath>

namespace vexo {
namespace core {

using vexo::templates::platform::SpinLockVariableGuard;

namespace {

void setLamp(QLabel* label, const char* name, bool on)
{
    label->setPixmap(QPixmap(QStringLiteral(":/display-qt4/%1_%2.png")
                                 .arg(QLatin1String(name), on ? QStringLiteral("on") : QStringLiteral("off"))));
}

void setFill(QLabel* label, const QString& picture, const QString& toolTip)
{
    label->setPixmap(QPixmap(QStringLiteral(":/display-qt4/%1.png").arg(picture)));
    label->setToolTip(toolTip);
}

} // namespace

void Qt4DisplaySceneVisualizer::processCameraStatusUpdate(bool cameraClock, bool fval, bool lval, bool exsync,
                                                          bool extrg, bool bufferOverflow, int fillLevelStep,
                                                          int fillLevelPercent)
{
    const bool clock = cameraClock || d->sourcesConnected;
    setLamp(d->clockLabel, "clock", clock);
    setLamp(d->fvalLabel, "fval", fval);
    setLamp(d->lvalLabel, "lval", lval);
    setLamp(d->exsyncLabel, "exsync", exsync);
    setLamp(d->extrgLabel, "extrg", extrg);
    d->clockLabel->setToolTip(clock ? QStringLiteral("Sources Detected") : QStringLiteral("NO Sources Detected"));
    d->fvalLabel->setToolTip(fval ? QStringLiteral("FVAL ON") : QStringLiteral("FVAL OFF"));
    d->lvalLabel->setToolTip(lval ? QStringLiteral("LVAL ON") : QStringLiteral("LVAL OFF"));

    // "Filllevel" is spelled so on purpose: kept for compatibility with the fixed texts.
    if (fillLevelPercent != -2) {
        d->bufferFillLabel->show();
        if (bufferOverflow) {
            setFill(d->bufferFillLabel, QStringLiteral("buffer_overflow"), QStringLiteral("Buffer Filllevel: 100%"));
        } else if (fillLevelPercent == -1) {
            switch (fillLevelStep) {
            case 0:
                setFill(d->bufferFillLabel, QStringLiteral("buffer_0"), QStringLiteral("Buffer Filllevel: 0%"));
                break;
            case 1:
                setFill(d->bufferFillLabel, QStringLiteral("buffer_1"), QStringLiteral("Buffer Filllevel: 25%"));
                break;
            case 2:
                setFill(d->bufferFillLabel, QStringLiteral("buffer_2"), QStringLiteral("Buffer Filllevel: 50%"));
                break;
            default:
                setFill(d->bufferFillLabel, QStringLiteral("buffer_3"), QStringLiteral("Buffer Filllevel: 75%"));
                break;
            }
        } else {
            const int p = fillLevelPercent;
            const QString picture = p < 10 ? QStringLiteral("buffer_0")
                : p < 25                   ? QStringLiteral("buffer_1")
                : p < 50                   ? QStringLiteral("buffer_2")
                : p < 75                   ? QStringLiteral("buffer_3")
                                           : QStringLiteral("buffer_overflow");
            setFill(d->bufferFillLabel, picture, QStringLiteral("Buffer Filllevel: %1%").arg(p));
        }
    }

    if (clock != d->cameraClockOn) {
        d->cameraClockOn = clock;
        if (d->cameraClockSignal)
            emit cameraClockChanged(d->boardIndex, d->dmaIndex, clock);
    }
}

bool Qt4DisplaySceneVisualizer::isCameraClockOn()
{
    return d->cameraClockOn;
}

void Qt4DisplaySceneVisualizer::showCameraLinkProperties(bool show)
{
    d->fvalLabel->setVisible(show);
    d->lvalLabel->setVisible(show);
    d->exsyncLabel->hide();
    d->extrgLabel->hide();
}

void Qt4DisplaySceneVisualizer::updateDisplayFps()
{
    // Frame information of the buffer on screen.
    if (const boost::shared_ptr<FrameBuffer> buffer = d->currentFrameBuffer.lock()) {
        const std::uint64_t length = buffer->transferLength();
        frameIndexLabel->setText(QStringLiteral("%1").arg(buffer->frameIndex()));
        frameIndexLabel->setEnabled(true);
        frameTagLabel->setText(
            QStringLiteral("%1 (0x%2)").arg(buffer->tag()).arg(buffer->tag(), 6, 16, QLatin1Char('0')));
        frameTagLabel->setEnabled(true);
        frameFlagsLabel->setText(QStringLiteral("0x%1").arg(buffer->flags(), 2, 16, QLatin1Char('0')));
        frameFlagsLabel->setEnabled(true);
        dmaTransferLabel->setText(QStringLiteral("0x%1 Bytes").arg(length, 0, 16));
        dmaTransferLabel->setEnabled(true);

        // The height the transfer amounts to at the assumed width. Without a width (or
        // depth) there is nothing to divide by: the row then shows "-".
        const std::int32_t bitsPerLine = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(d->sceneWidth) * static_cast<std::uint32_t>(buffer->bitsPerPixel()));
        QString height = QStringLiteral("-");
        if (bitsPerLine != 0) {
            const std::uint64_t bits = length * 8;
            const std::uint64_t divisor = static_cast<std::uint64_t>(static_cast<std::uint32_t>(bitsPerLine));
            height = bits % divisor == 0 ? QStringLiteral("%1").arg(bits / divisor)
                                         : QString::number(double(bits) / double(divisor), 'f', 2);
        }
        const QString row = QStringLiteral(
            "<tr><td style='white-space:nowrap'><b>%1</b></td><td style='white-space:nowrap'>%2</td></tr>");
        dmaTransferLabel->setToolTip(
            QStringLiteral("<b><u>DMA Transfer Length Details</u></b><br>") + QStringLiteral("<table>")
            + row.arg(QStringLiteral("Transfer Length:"),
                      QStringLiteral("%1 (0x%2) Bytes").arg(length).arg(length, 0, 16))
            + row.arg(QStringLiteral("Bits Per Pixel:"), QStringLiteral("%1 Bits").arg(buffer->bitsPerPixel()))
            + row.arg(QStringLiteral("Assumed Image Width:"), QStringLiteral("%1 Pixel").arg(d->sceneWidth))
            + row.arg(QStringLiteral("Current Image Height:"), QStringLiteral("%1 Pixel").arg(height))
            + QStringLiteral("</table>"));
    } else {
        for (QLabel* label : {frameIndexLabel, frameTagLabel, frameFlagsLabel, dmaTransferLabel}) {
            label->setText(QStringLiteral("-"));
            label->setEnabled(false);
        }
        dmaTransferLabel->setToolTip(QString());
    }

    // Rates.
    const std::uint64_t count = d->bufferCount.load();
    if (!d->grabbing || count == 0) {
        d->renderFpsLabel->setText(QStringLiteral("Render FPS: <b>-</b>"));
        d->renderFpsLabel->setEnabled(false);
        d->acquisitionFpsLabel->setText(QStringLiteral("Acquisition FPS: <b>-</b>"));
        d->acquisitionFpsLabel->setEnabled(false);
        return;
    }
    if (d->renderedFrames == 0) {
        d->renderFpsLabel->setText(QStringLiteral("Render FPS: <b>-</b>"));
        d->renderFpsLabel->setEnabled(false);
    } else {
        d->renderFpsLabel->setText(QStringLiteral("Render FPS: <b>%1</b>").arg(d->renderFps, 0, 'f', 1));
        d->renderFpsLabel->setEnabled(true);
    }

    double rate = 0;
    if (count >= 2 && d->renderedFrames != 0) {
        SpinLockVariableGuard guard(&d->bufferLock);
        const std::uint64_t n = d->bufferCount.load();
        const D::BufferRingEntry& newest = d->bufferRing[(n - 1) % D::bufferRingSize];
        const D::BufferRingEntry& oldest = d->bufferRing[n <= D::bufferRingSize ? 0 : n % D::bufferRingSize];
        const double frames = double(newest.frameIndex - oldest.frameIndex);
        const double micros = double(newest.timestamp - oldest.timestamp);
        rate = frames / micros * 1000000.0;
    }
    // Equal time stamps give no finite rate; like a rate of 0 it shows "-".
    if (std::isfinite(rate) && rate != 0) {
        d->acquisitionFpsLabel->setText(QStringLiteral("Acquisition FPS: <b>%1</b>").arg(rate, 0, 'f', 2));
        d->acquisitionFpsLabel->setEnabled(true);
    } else {
        d->acquisitionFpsLabel->setText(QStringLiteral("Acquisition FPS: <b>-</b>"));
        d->acquisitionFpsLabel->setEnabled(false);
    }
}

void Qt4DisplaySceneVisualizer::setOverflowEventsSupport(bool supported)
{
    d->corruptedEvents.supported.store(supported);
    d->lostEvents.supported.store(supported);
}

void Qt4DisplaySceneVisualizer::updateOverflowEvents(bool corrupted, bool lost, unsigned int value)
{
    if (corrupted) {
        d->corruptedEvents.count.fetch_add(1);
        d->corruptedEvents.lastValue.store(value);
    }
    if (lost) {
        d->lostEvents.count.fetch_add(1);
        d->lostEvents.lastValue.store(value);
    }
}

void Qt4DisplaySceneVisualizer::resetEvents()
{
    d->corruptedEvents.reset();
    d->lostEvents.reset();
}

void Qt4DisplaySceneVisualizer::setupEvents()
{
    d->corruptedEvents.supported.store(false);
    d->lostEvents.supported.store(false);
    d->corruptedEvents.reset();
    d->lostEvents.reset();
    d->eventTimer = new QTimer(this);
    connect(d->eventTimer, SIGNAL(timeout()), this, SLOT(eventTimerRefresh()));
    d->eventTimer->start(200);
}

void Qt4DisplaySceneVisualizer::shutdownEvents()
{
    d->eventTimer->stop();
}

void Qt4DisplaySceneVisualizer::eventTimerRefresh()
{
    const auto text = [](const OverflowEventRecord& record) {
        return record.supported.load() ? QStringLiteral("%1").arg(record.count.load()) : QStringLiteral("-");
    };
    const QString corrupted = text(d->corruptedEvents);
    const QString lost = text(d->lostEvents);
    d->overflowLabel->setText(QStringLiteral("Overflow: <b>%1</b> / <b>%2</b>").arg(corrupted, lost));
    d->overflowLabel->setToolTip(
        QStringLiteral("Overflow Events:\n%1 corrupted frames\n%2 lost frames").arg(corrupted, lost));
}

} // namespace core
} // namespace vexo
