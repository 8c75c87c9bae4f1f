// Scene renderer speed relative to copying the canvas bytes once, both measured in this
// run: a 1920 x 1080 canvas from 4096 x 4096 buffers, offset 0, every case reporting the
// canvas bytes so the rates line up. Grid on (it only shows from step 9). A ratio table
// follows the usual output: against a copy whose source the caches hold, and against one
// from memory they do not (zoomed out, a render reads more source bytes than the canvas
// has, most of them from memory; read_visible_* is that floor at 1:1).

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/SceneRenderer.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::SceneRenderer;

namespace {

constexpr int canvasWidth = 1920;
constexpr int canvasHeight = 1080;
constexpr int imageSize = 4096;
constexpr std::int64_t canvasBytes = std::int64_t{canvasWidth} * canvasHeight * 4;
const char* const baselineName = "memcpy_canvas";
const char* const coldBaselineName = "memcpy_canvas_cold";

std::unique_ptr<FrameBuffer> makeBuffer(int bits, bool gray)
{
    auto buffer = std::make_unique<FrameBuffer>(imageSize, imageSize, bits, gray);
    const unsigned mask = (1u << bits) - 1;
    for (int y = 0; y < imageSize; ++y) {
        std::uint16_t* line = buffer->line(y);
        const int values = imageSize * buffer->channels();
        for (int i = 0; i < values; ++i)
            line[i] = static_cast<std::uint16_t>((i * 7 + y * 13) & mask);
    }
    buffer->setComplete();
    return buffer;
}

void memcpyCanvas(benchmark::State& state)
{
    std::vector<std::uint32_t> source(static_cast<std::size_t>(canvasBytes / 4), 0xff102030u);
    DisplaySceneFrame frame(canvasWidth, canvasHeight);
    for (auto _ : state) {
        std::memcpy(frame.canvas(), source.data(), static_cast<std::size_t>(canvasBytes));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * canvasBytes);
}

// The same copy from memory the caches do not hold: source blocks in turn, together four
// times the last-level cache, as the renderer's source is a fresh frame far larger than it.
void memcpyCanvasCold(benchmark::State& state)
{
    constexpr std::size_t blocks = 16;
    const std::size_t words = static_cast<std::size_t>(canvasBytes / 4);
    std::vector<std::uint32_t> sources(blocks * words, 0xff102030u);
    DisplaySceneFrame frame(canvasWidth, canvasHeight);
    std::size_t next = 0;
    for (auto _ : state) {
        std::memcpy(frame.canvas(), sources.data() + next * words, static_cast<std::size_t>(canvasBytes));
        next = (next + 1) % blocks;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * canvasBytes);
}

void renderCanvas(benchmark::State& state, const FrameBuffer* buffer, int zoomStep)
{
    DisplaySceneFrame frame(canvasWidth, canvasHeight);
    SceneRenderer::View view;
    view.zoomStep = zoomStep;
    view.grid = true;
    for (auto _ : state) {
        SceneRenderer::render(*buffer, view, frame);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * canvasBytes);
}

// Not a renderer case: only reads the samples a 1:1 view shows, the floor for rendering
// from a buffer far larger than the caches while the baseline copy stays cached.
void readVisibleSamples(benchmark::State& state, const FrameBuffer* buffer)
{
    const int values = canvasWidth * buffer->channels();
    for (auto _ : state) {
        std::uint32_t sum = 0;
        for (int y = 0; y < canvasHeight; ++y) {
            const std::uint16_t* line = buffer->line(y);
            for (int i = 0; i < values; ++i)
                sum += line[i];
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * canvasBytes);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    const auto gray8 = makeBuffer(8, true);
    const auto gray12 = makeBuffer(12, true);
    const auto rgb8 = makeBuffer(8, false);
    const struct
    {
        const char* name;
        const FrameBuffer* buffer;
    } sources[] = {{"gray8", gray8.get()}, {"gray12", gray12.get()}, {"rgb8", rgb8.get()}};

    benchmark::RegisterBenchmark(baselineName, memcpyCanvas)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(coldBaselineName, memcpyCanvasCold)->Unit(benchmark::kMicrosecond);
    for (const auto& source : sources) {
        for (int step = 0; step <= 12; ++step) {
            const std::string name = std::string("render_") + source.name + "_step" + std::to_string(step);
            benchmark::RegisterBenchmark(name.c_str(), renderCanvas, source.buffer, step)
                ->Unit(benchmark::kMicrosecond);
        }
    }

    benchmark::RegisterBenchmark("read_visible_gray", readVisibleSamples, gray8.get())->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("read_visible_rgb", readVisibleSamples, rgb8.get())->Unit(benchmark::kMicrosecond);

    RatioReporter reporter(baselineName, "memcpy");
    reporter.alsoAgainst(coldBaselineName, "cold memcpy");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
