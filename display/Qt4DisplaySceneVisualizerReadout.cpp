// Pixel readout under the mouse and its switches (GUI thread).

#include "display/Qt4DisplaySceneVisualizer.h"
#include "display/Qt4DisplaySceneVisualizerD.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QLabel>

namespace vexo {
namespace core {

namespace {

QString hexValue(std::uint64_t value, int digits)
{
    return QStringLiteral("0x%1").arg(value, digits, 16, QLatin1Char('0'));
}

} // namespace

void Qt4DisplaySceneVisualizer::updateMouseData()
{
    const auto none = [this] {
        positionLabel->setText(QStringLiteral("None"));
        positionLabel->setEnabled(false);
        dataLabel->setText(QStringLiteral("None"));
        dataLabel->setEnabled(false);
    };
    const bool anything = d->grabbing ? d->bufferCount.load() != 0 : d->validBufferCount != 0;
    if (!anything) {
        none();
        return;
    }
    const boost::shared_ptr<FrameBuffer> buffer = d->currentFrameBuffer.lock();
    if (d->canvasMousePosition.x() == -1 || d->canvasMousePosition.y() == -1 || !buffer) {
        none();
        return;
    }
    int x = d->canvasMousePosition.x();
    int y = d->canvasMousePosition.y();
    bool written = false;
    // Left of or above the image (a drag can carry the mouse there) is outside it too;
    // read as unsigned, such a point would name pixel 4294967295.
    if (!d->mapCanvasToImage(&x, &y, &written) || x < 0 || y < 0) {
        none();
        return;
    }
    positionLabel->setText(QStringLiteral("(%1, %2)").arg(x).arg(y));
    positionLabel->setEnabled(true);
    if (!written) {
        dataLabel->setText(QStringLiteral("Invalid"));
        dataLabel->setEnabled(false);
        return;
    }

    const int bits = buffer->bitsPerPixel();
    const int digits = bits / 4 + (bits % 4 != 0 ? 1 : 0);
    QString text;
    if (buffer->isGray()) {
        std::uint64_t value = 0;
        buffer->getPixelValueGray(static_cast<unsigned>(x), static_cast<unsigned>(y), &value);
        text = d->hexDisplay ? hexValue(value, digits) : QStringLiteral("%1").arg(value);
    } else {
        std::uint64_t r = 0, g = 0, b = 0;
        buffer->getPixelValueColor(static_cast<unsigned>(x), static_cast<unsigned>(y), &r, &g, &b);
        text = d->hexDisplay ? QStringLiteral("(%1,%2,%3)")
                                   .arg(hexValue(r, digits), hexValue(g, digits), hexValue(b, digits))
                             : QStringLiteral("(%1,%2,%3)").arg(r).arg(g).arg(b);
    }
    dataLabel->setText(text);
    dataLabel->setEnabled(true);
}

void Qt4DisplaySceneVisualizer::hexDecButtonToggled(bool checked)
{
    d->hexDisplay = checked;
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->invalidateScene();
}

void Qt4DisplaySceneVisualizer::rgbOverlayButtonToggled(bool checked)
{
    d->showPixelValues = checked;
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->invalidateScene();
}

void Qt4DisplaySceneVisualizer::gridButtonToggled(bool checked)
{
    if (boost::shared_ptr<DisplayScene> attached = scene())
        attached->enableZoomGrid(checked);
}

} // namespace core
} // namespace vexo
