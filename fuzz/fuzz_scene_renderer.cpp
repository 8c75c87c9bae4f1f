// Renders a small fuzzed frame buffer through a fuzzed view and compares every canvas
// pixel with a plain per-pixel model: map the canvas pixel to its image point with
// ordinary arithmetic, then show background, grid or the scaled sample. The model keeps
// its own copy of the samples, so a buffer that stores them wrongly fails as well.

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/SceneRenderer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::SceneRenderer;

namespace {

[[noreturn]] void fail(const char* what, long long a = 0, long long b = 0, long long c = 0, long long d = 0)
{
    std::fprintf(stderr, "fuzz_scene_renderer: %s (%lld, %lld, %lld, %lld)\n", what, a, b, c, d);
    std::abort();
}

// Mostly small values around the image, now and then anything an int can hold.
int position(FuzzedDataProvider& in, int lo, int hi)
{
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
        return in.ConsumeIntegral<int>();
    case 1:
        return in.PickValueInArray({INT_MIN, INT_MIN + 1, -1, 0, INT_MAX - 1, INT_MAX});
    default:
        return in.ConsumeIntegralInRange<int>(lo, hi);
    }
}

std::uint32_t toByte(std::uint64_t v, int bits)
{
    std::uint64_t c = v;
    if (bits < 8)
        c = v * (std::uint64_t{1} << (8 - bits));
    else
        c = v / (std::uint64_t{1} << (bits - 8));
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(c, 255));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);

    // Sizes and depths slightly outside the valid ranges check the documented clamping.
    const int requestedWidth = in.ConsumeIntegralInRange<int>(-2, 64);
    const int requestedHeight = in.ConsumeIntegralInRange<int>(-2, 64);
    const int requestedBits = in.ConsumeIntegralInRange<int>(-1, 18);
    const bool gray = in.ConsumeBool();
    const int width = std::max(requestedWidth, 0);
    const int height = std::max(requestedHeight, 0);
    const int bits = std::clamp(requestedBits, 1, 16);
    const int channels = gray ? 1 : 3;

    const int requestedZoom = in.ConsumeIntegralInRange<int>(-2, 14);
    const int offsetX = position(in, -8, 72);
    const int offsetY = position(in, -8, 72);
    const int canvasWidth = in.ConsumeIntegralInRange<int>(0, 96);
    const int canvasHeight = in.ConsumeIntegralInRange<int>(0, 96);
    const bool grid = in.ConsumeBool();

    // Last written pixel: the complete frame, nothing, or anywhere near (or far from) it.
    int lastX = width - 1;
    int lastY = height - 1;
    const int progress = in.ConsumeIntegralInRange<int>(0, 3);
    if (progress == 1) {
        lastX = -1;
        lastY = -1;
    } else if (progress >= 2) {
        lastX = position(in, -3, 68);
        lastY = position(in, -3, 68);
    }

    // 0: values within the depth; 1: any 16-bit value; 2: wider values, which the buffer
    // stores as 0xffff.
    const int range = in.ConsumeIntegralInRange<int>(0, 2);
    const std::uint32_t junk = in.ConsumeIntegral<std::uint32_t>() & 0x00ffffffu;
    const std::vector<std::uint8_t> bytes = in.ConsumeRemainingBytes<std::uint8_t>();

    FrameBuffer buffer(requestedWidth, requestedHeight, requestedBits, gray);
    if (buffer.width() != width || buffer.height() != height || buffer.bitsPerPixel() != bits || buffer.isGray() != gray
        || buffer.channels() != channels)
        fail("buffer format", buffer.width(), buffer.height(), buffer.bitsPerPixel(), buffer.channels());

    // Samples come from the input, cycled when it runs short so large images still vary.
    std::vector<std::uint16_t> model(static_cast<std::size_t>(width) * height * channels);
    std::size_t next = 0;
    auto nextValue = [&]() -> std::uint64_t {
        if (bytes.empty())
            return 0;
        std::uint64_t v = 0;
        for (int i = 0; i < 3; ++i)
            v = v << 8 | bytes[next++ % bytes.size()];
        switch (range) {
        case 0:
            return v & ((std::uint64_t{1} << bits) - 1);
        case 1:
            return v & 0xffff;
        default:
            return v << 1; // up to 25 bits
        }
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint64_t v[3] = {nextValue(), 0, 0};
            if (!gray) {
                v[1] = nextValue();
                v[2] = nextValue();
            }
            const bool stored =
                gray ? buffer.setPixelValueGray(x, y, v[0]) : buffer.setPixelValueColor(x, y, v[0], v[1], v[2]);
            if (!stored)
                fail("pixel not stored", x, y);
            for (int c = 0; c < channels; ++c)
                model[(static_cast<std::size_t>(y) * width + x) * channels + c] =
                    static_cast<std::uint16_t>(std::min<std::uint64_t>(v[c], 0xffff));
        }
    }
    buffer.setLastValidPixel(lastX, lastY);

    DisplaySceneFrame frame(canvasWidth, canvasHeight);
    // A transparent word no rendered pixel can have: a pixel the renderer skips shows.
    for (int cy = 0; cy < canvasHeight; ++cy)
        std::fill(frame.canvasLine(cy), frame.canvasLine(cy) + canvasWidth, junk);

    SceneRenderer::View view;
    view.zoomStep = requestedZoom;
    view.offsetX = offsetX;
    view.offsetY = offsetY;
    view.grid = grid;
    SceneRenderer::render(buffer, view, frame);

    // Geometry: step and offsets clamped as documented.
    const int zoom = std::clamp(requestedZoom, 0, 12);
    int step = 1;
    int pixelSize = 1;
    for (int s = zoom; s < 6; ++s)
        step *= 2;
    for (int s = 6; s < zoom; ++s)
        pixelSize *= 2;
    const long long originX = offsetX < 0 ? 0 : offsetX;
    const long long originY = offsetY < 0 ? 0 : offsetY;
    if (frame.zoomValue() != zoom || frame.stepSize() != step || frame.pixelSize() != pixelSize
        || frame.minX() != originX || frame.minY() != originY)
        fail("geometry", frame.zoomValue(), frame.stepSize(), frame.pixelSize(), frame.minX());
    if (frame.width() != canvasWidth || frame.height() != canvasHeight)
        fail("canvas size changed", frame.width(), frame.height());

    const bool showGrid = grid && pixelSize >= 8;
    for (int cy = 0; cy < canvasHeight; ++cy) {
        const std::uint32_t* line = frame.canvasLine(cy);
        for (int cx = 0; cx < canvasWidth; ++cx) {
            const long long x = originX + static_cast<long long>(cx) * step / pixelSize;
            const long long y = originY + static_cast<long long>(cy) * step / pixelSize;
            std::uint32_t expected = SceneRenderer::backgroundColor;
            if (x < width && y < height) {
                const bool written = y < lastY || (y == lastY && x <= lastX);
                if (showGrid && (cx % pixelSize == 0 || cy % pixelSize == 0)) {
                    expected = SceneRenderer::gridColor;
                } else if (written) {
                    const std::uint16_t* s =
                        &model[(static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)) * channels];
                    const std::uint32_t r = toByte(s[0], bits);
                    const std::uint32_t g = gray ? r : toByte(s[1], bits);
                    const std::uint32_t b = gray ? r : toByte(s[2], bits);
                    expected = 0xff000000u | r << 16 | g << 8 | b;
                }
            }
            if (line[cx] != expected) {
                std::fprintf(stderr,
                             "fuzz_scene_renderer: image %dx%d bits %d %s, zoom %d offset %d,%d "
                             "canvas %dx%d grid %d last %d,%d\n",
                             width, height, bits, gray ? "gray" : "colour", requestedZoom, offsetX, offsetY,
                             canvasWidth, canvasHeight, grid, lastX, lastY);
                std::fprintf(stderr, "fuzz_scene_renderer: canvas %d,%d is 0x%08x, expected 0x%08x\n", cx, cy, line[cx],
                             expected);
                std::abort();
            }
        }
    }
    return 0;
}
