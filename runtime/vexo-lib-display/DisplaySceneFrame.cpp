#include "vexo-lib-display/DisplaySceneFrame.h"

#include "vexo-lib-display/FrameBuffer.h"

#include <algorithm>

namespace vexo {
namespace core {

DisplaySceneFrame::DisplaySceneFrame(int width, int height)
    : canvasWidth(std::max(width, 0))
    , canvasHeight(std::max(height, 0))
    , pixels(static_cast<std::size_t>(canvasWidth) * static_cast<std::size_t>(canvasHeight), 0xff000000u)
{
}

DisplaySceneFrame::~DisplaySceneFrame() = default;

unsigned char* DisplaySceneFrame::canvas() const
{
    return pixels.empty() ? nullptr : reinterpret_cast<unsigned char*>(pixels.data());
}

int DisplaySceneFrame::width() const
{
    return canvasWidth;
}
int DisplaySceneFrame::height() const
{
    return canvasHeight;
}
int DisplaySceneFrame::bytesPerScanline() const
{
    return canvasWidth * 4;
}
boost::shared_ptr<FrameBuffer> DisplaySceneFrame::frameBuffer() const
{
    return buffer;
}
int DisplaySceneFrame::minX() const
{
    return frameGeometry.minX;
}
int DisplaySceneFrame::minY() const
{
    return frameGeometry.minY;
}
int DisplaySceneFrame::stepSize() const
{
    return frameGeometry.stepSize;
}
int DisplaySceneFrame::pixelSize() const
{
    return frameGeometry.pixelSize;
}
int DisplaySceneFrame::zoomValue() const
{
    return frameGeometry.zoomValue;
}
std::uint64_t DisplaySceneFrame::renderTimeInMicroseconds() const
{
    return renderTime;
}

std::uint32_t* DisplaySceneFrame::canvasLine(int y)
{
    if (y < 0 || y >= canvasHeight)
        return nullptr;
    return pixels.data() + static_cast<std::size_t>(y) * canvasWidth;
}

void DisplaySceneFrame::setFrameBuffer(const boost::shared_ptr<FrameBuffer>& source)
{
    buffer = source;
}

void DisplaySceneFrame::setGeometry(const Geometry& geometry)
{
    frameGeometry = geometry;
}

const DisplaySceneFrame::Geometry& DisplaySceneFrame::geometry() const
{
    return frameGeometry;
}

void DisplaySceneFrame::setRenderTimeInMicroseconds(std::uint64_t value)
{
    renderTime = value;
}

} // namespace core
} // namespace vexo
