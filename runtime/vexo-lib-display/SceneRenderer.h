#pragma once

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/ZoomStep.h"

#include <cstdint>

namespace vexo {
namespace core {

class FrameBuffer;

// Turns the visible part of a frame buffer into a scene frame's RGB32 canvas. Runs for
// every shown frame, so it works row by row with per-bit-depth lookup tables and no
// per-pixel division. Stateless apart from the tables, which are built once per bit depth
// on first use and shared read-only by all threads.
//
// Zoom steps are those of ZoomStep: below unity every stepSize()-th pixel is shown, above
// it each image pixel covers pixelSize() x pixelSize() canvas pixels.
//
// Offsets name the image pixel at the canvas's top-left corner. Negative offsets are
// taken as 0. Offsets at or past the image's right or bottom edge are kept as given: the
// view is simply scrolled off the image and that part of the canvas shows the background;
// pulling the view back is the scene's decision, not the renderer's.
class SceneRenderer
{
public:
    // Below 8 canvas pixels per image pixel the grid would cover more than it delineates.
    static constexpr int minGridPixelSize = 8;

    // Outside the image and over pixels the acquisition has not written yet.
    static constexpr std::uint32_t backgroundColor = 0xff303030u;
    // First canvas column and row of every magnified image pixel when the grid is on.
    static constexpr std::uint32_t gridColor = 0xff808080u;

    struct View
    {
        int zoomStep = ZoomStep::unity; // clamped to the ZoomStep range
        int offsetX = 0;
        int offsetY = 0;
        bool grid = false;
        // A 65536-entry table of gray words (as the default ones: 0xffVVVVVV per sample
        // value) that replaces the bit depth's own mapping, e.g. a display range; null
        // keeps the default. Borrowed for the render. A table is always looked up per
        // pixel: the vector kernels know the default mapping only.
        const std::uint32_t* table = nullptr;
    };

    // Fastest: the CPU's vector instructions where it has them; Portable: plain C++ only,
    // the reference the vector kernels are tested against.
    enum class Kernels { Fastest, Portable };

    // The mapping render() uses for this step and offset, after clamping both.
    static DisplaySceneFrame::Geometry geometryFor(int zoomStep, int offsetX, int offsetY);

    // Fills the whole canvas of frame (its own width and height) and sets its geometry.
    // Only pixels published through the buffer's lastValidPixel are read, so a frame that
    // is still arriving can be rendered while the acquisition keeps writing below it.
    // Sets neither the frame's buffer nor its render time: that is the caller's part.
    static void render(const FrameBuffer& buffer, const View& view, DisplaySceneFrame& frame,
                       Kernels kernels = Kernels::Fastest);
};

} // namespace core
} // namespace vexo
