// Simulator fill speed relative to memset of the same sample bytes, both measured in this
// run: every pattern through deliverFrame(), as fast as the source allows, gray frames
// 2048 x 2048 and colour frames 1024 x 1024. Gray and colour each get their own baseline
// and ratio table after the usual output. On a busy machine run it with
// --benchmark_repetitions=5 or so: the tables keep each case's fastest run.

#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/SimulatorSource.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

using vexo::core::FrameBuffer;
using vexo::core::FrameSource;
using vexo::core::SimulatorSource;

namespace {

constexpr int graySize = 2048;
constexpr int colourSize = 1024;
const char* const grayBaseline = "memset_gray_2048";
const char* const colourBaseline = "memset_colour_1024";

std::int64_t frameBytes(const FrameBuffer& buffer)
{
    return std::int64_t{buffer.width()} * buffer.height() * buffer.channels() * 2;
}

void memsetFrame(benchmark::State& state, int size, bool gray)
{
    FrameBuffer buffer(size, size, 16, gray);
    const auto bytes = static_cast<std::size_t>(frameBytes(buffer));
    int value = 0;
    for (auto _ : state) {
        std::memset(buffer.line(0), ++value & 0xff, bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * frameBytes(buffer));
}

void fillFrame(benchmark::State& state, int size, int bits, bool gray, SimulatorSource::Pattern pattern)
{
    SimulatorSource source({{size, size, bits, gray}, 0, pattern});
    FrameBuffer buffer(size, size, bits, gray);
    source.start();
    for (auto _ : state) {
        if (source.deliverFrame(&buffer, {}) != FrameSource::Delivery::Frame)
            state.SkipWithError("no frame");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * frameBytes(buffer));
}

void registerFills(const char* kind, int size, bool gray, std::initializer_list<int> depths)
{
    const struct
    {
        const char* name;
        SimulatorSource::Pattern pattern;
    } patterns[] = {{"gradient", SimulatorSource::Pattern::MovingGradient},
                    {"chart", SimulatorSource::Pattern::TestChart}};
    for (const auto& p : patterns) {
        for (int bits : depths) {
            const std::string name = std::string("fill_") + kind + std::to_string(bits) + "_" + p.name;
            benchmark::RegisterBenchmark(name.c_str(), fillFrame, size, bits, gray, p.pattern)
                ->Unit(benchmark::kMicrosecond);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    benchmark::RegisterBenchmark(grayBaseline, memsetFrame, graySize, true)->Unit(benchmark::kMicrosecond);
    registerFills("gray", graySize, true, {8, 12, 16});
    benchmark::RegisterBenchmark(colourBaseline, memsetFrame, colourSize, false)->Unit(benchmark::kMicrosecond);
    registerFills("rgb", colourSize, false, {8, 10});

    RatioReporter grayReporter(grayBaseline, "memset");
    benchmark::RunSpecifiedBenchmarks(&grayReporter, "^(memset_gray|fill_gray)");
    grayReporter.printRatios();
    RatioReporter colourReporter(colourBaseline, "memset");
    benchmark::RunSpecifiedBenchmarks(&colourReporter, "^(memset_colour|fill_rgb)");
    colourReporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
