#pragma once

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

namespace vexo {
namespace core {

class FrameBuffer;

// One rendered view of a frame buffer: an RGB32 canvas (QImage::Format_RGB32 layout, one
// 32-bit word 0xffRRGGBB per pixel) and how it maps onto the image. Immutable once handed
// to a visualizer; the canvas is valid while the frame is held.
class DisplaySceneFrame
{
public:
    struct Geometry
    {
        int minX = 0; // image column at the canvas origin
        int minY = 0; // image line at the canvas origin
        int stepSize = 1; // image pixels per canvas pixel (zoomed out)
        int pixelSize = 1; // canvas pixels per image pixel (zoomed in)
        int zoomValue = 6; // zoom step 0..12, 6 is 1:1
    };

    // A canvas of width x height pixels, cleared to black.
    DisplaySceneFrame(int width, int height);
    virtual ~DisplaySceneFrame();

    DisplaySceneFrame(const DisplaySceneFrame&) = delete;
    DisplaySceneFrame& operator=(const DisplaySceneFrame&) = delete;

    unsigned char* canvas() const;
    int width() const;
    int height() const;
    int bytesPerScanline() const;
    boost::shared_ptr<FrameBuffer> frameBuffer() const;
    int minX() const;
    int minY() const;
    int stepSize() const;
    int pixelSize() const;
    int zoomValue() const;
    std::uint64_t renderTimeInMicroseconds() const;

    // --- Renderer side: set before the frame is handed out ---
    std::uint32_t* canvasLine(int y);
    void setFrameBuffer(const boost::shared_ptr<FrameBuffer>& buffer);
    void setGeometry(const Geometry& geometry);
    const Geometry& geometry() const;
    void setRenderTimeInMicroseconds(std::uint64_t value);

private:
    int canvasWidth;
    int canvasHeight;
    // mutable: canvas() is const yet hands out a writable pointer, as its callers expect.
    mutable std::vector<std::uint32_t> pixels;
    boost::shared_ptr<FrameBuffer> buffer;
    Geometry frameGeometry;
    std::uint64_t renderTime = 0;
};

} // namespace core
} // namespace vexo
