// Scene renderer speed relative to copying the canvas bytes once, both measured in this
// run, in two geometries run one after the other, each with its own baselines:
// - "window": a 1024 x 768 canvas (a channel window's) from 2048 x 2048 buffers; what a
//   render reads of them fits the last-level cache, as a frame just written does;
// - "hd": a 1920 x 1080 canvas from 4096 x 4096 buffers; a colour render reads more than
//   the cache holds, so memory bandwidth bounds it.
// Offset 0, every case reporting the canvas bytes so the rates line up, grid on (it only
// shows from step 9). A ratio table follows each geometry's output: against a copy whose
// source the caches hold, and against one from memory they do not (read_visible_* only
// reads the samples a 1:1 view shows, the floor of the 1:1 cases).

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/LevelsTable.h"
#include "vexo-lib-display/SceneRenderer.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <emmintrin.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::SceneRenderer;

namespace {

struct Geometry
{
    const char* name;
    int canvasWidth;
    int canvasHeight;
    int imageSize;
    std::int64_t canvasBytes() const { return std::int64_t{canvasWidth} * canvasHeight * 4; }
};

const char* const baselineName = "memcpy_canvas";
const char* const coldBaselineName = "memcpy_canvas_cold";

std::unique_ptr<FrameBuffer> makeBuffer(int imageSize, int bits, bool gray)
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

void memcpyCanvas(benchmark::State& state, Geometry g)
{
    const std::int64_t canvasBytes = g.canvasBytes();
    std::vector<std::uint32_t> source(static_cast<std::size_t>(canvasBytes / 4), 0xff102030u);
    DisplaySceneFrame frame(g.canvasWidth, g.canvasHeight);
    for (auto _ : state) {
        std::memcpy(frame.canvas(), source.data(), static_cast<std::size_t>(canvasBytes));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * canvasBytes);
}

// The same copy from memory the caches do not hold: source blocks in turn, together four
// times the last-level cache, as the renderer's source is a fresh frame far larger than it.
void memcpyCanvasCold(benchmark::State& state, Geometry g)
{
    const std::int64_t canvasBytes = g.canvasBytes();
    const std::size_t blocks = std::max<std::int64_t>(16, 4 * 32 * 1024 * 1024 / canvasBytes + 1);
    const std::size_t words = static_cast<std::size_t>(canvasBytes / 4);
    std::vector<std::uint32_t> sources(blocks * words, 0xff102030u);
    DisplaySceneFrame frame(g.canvasWidth, g.canvasHeight);
    std::size_t next = 0;
    for (auto _ : state) {
        std::memcpy(frame.canvas(), sources.data() + next * words, static_cast<std::size_t>(canvasBytes));
        next = (next + 1) % blocks;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * canvasBytes);
}

void renderCanvas(benchmark::State& state, Geometry g, const FrameBuffer* buffer, int zoomStep,
                  const std::uint32_t* table)
{
    DisplaySceneFrame frame(g.canvasWidth, g.canvasHeight);
    SceneRenderer::View view;
    view.zoomStep = zoomStep;
    view.grid = true;
    view.table = table;
    for (auto _ : state) {
        SceneRenderer::render(*buffer, view, frame);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * g.canvasBytes());
}

// Not a renderer case: only reads the samples a 1:1 view shows, sixteen bytes a load,
// the floor of the 1:1 cases.
void readVisibleSamples(benchmark::State& state, Geometry g, const FrameBuffer* buffer)
{
    const int bytes = g.canvasWidth * buffer->channels() * 2;
    for (auto _ : state) {
        __m128i any = _mm_setzero_si128();
        for (int y = 0; y < g.canvasHeight; ++y) {
            const char* line = reinterpret_cast<const char*>(buffer->line(y));
            for (int i = 0; i + 16 <= bytes; i += 16)
                any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + i)));
        }
        benchmark::DoNotOptimize(any);
    }
    state.SetBytesProcessed(state.iterations() * g.canvasBytes());
}

void runGeometry(const Geometry& g)
{
    const auto gray8 = makeBuffer(g.imageSize, 8, true);
    const auto gray12 = makeBuffer(g.imageSize, 12, true);
    const auto rgb8 = makeBuffer(g.imageSize, 8, false);
    const struct
    {
        const char* name;
        const FrameBuffer* buffer;
    } sources[] = {{"gray8", gray8.get()}, {"gray12", gray12.get()}, {"rgb8", rgb8.get()}};

    const std::string prefix = std::string(g.name) + "_";
    benchmark::RegisterBenchmark((prefix + baselineName).c_str(), memcpyCanvas, g)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((prefix + coldBaselineName).c_str(), memcpyCanvasCold, g)
        ->Unit(benchmark::kMicrosecond);
    for (const auto& source : sources) {
        for (int step = 0; step <= 12; ++step) {
            const std::string name = prefix + "render_" + source.name + "_step" + std::to_string(step);
            benchmark::RegisterBenchmark(name.c_str(), renderCanvas, g, source.buffer, step, nullptr)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    // A display range: every pixel through its table, at 1:1 and 1:2.
    vexo::core::LevelsTable levels;
    const std::uint32_t* table = levels.table({0, 400}, 1.0);
    for (const auto& source : sources) {
        for (const int step : {5, 6}) {
            const std::string name = prefix + "render_" + source.name + "_levels_step" + std::to_string(step);
            benchmark::RegisterBenchmark(name.c_str(), renderCanvas, g, source.buffer, step, table)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    benchmark::RegisterBenchmark((prefix + "read_visible_gray").c_str(), readVisibleSamples, g, gray8.get())
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((prefix + "read_visible_rgb").c_str(), readVisibleSamples, g, rgb8.get())
        ->Unit(benchmark::kMicrosecond);

    RatioReporter reporter(prefix + baselineName, "memcpy");
    reporter.alsoAgainst(prefix + coldBaselineName, "cold memcpy");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::ClearRegisteredBenchmarks();
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    runGeometry({"window", 1024, 768, 2048});
    runGeometry({"hd", 1920, 1080, 4096});
    benchmark::Shutdown();
    return 0;
}
