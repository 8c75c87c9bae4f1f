// Acquisition alone: the simulator filling the scene's ring as fast as it can, no GUI,
// against memcpy of the same frame bytes.

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <thread>
#include <vector>

using namespace vexo::core;

namespace {

constexpr int side = 1024;
constexpr int ringSize = 16;
// Bytes of one stored frame: the ring keeps 16-bit samples.
constexpr std::size_t frameBytes = std::size_t(side) * side * sizeof(std::uint16_t);

void BM_MemcpyFrame(benchmark::State& state)
{
    std::vector<std::uint8_t> from(frameBytes, 7), to(frameBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), frameBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(frameBytes));
}

// One iteration is one sequence: as many frames as the ring holds, acquired on the
// scene's thread from the simulator (no frame rate limit) into the ring.
void BM_AcquireSequence(benchmark::State& state)
{
    SimulatorSource::Settings settings;
    settings.format = {side, side, 8, true};
    settings.framesPerSecond = 0;
    auto scene = DisplayScene::create(std::unique_ptr<FrameSource>(new SimulatorSource(settings)), ringSize);
    for (auto _ : state) {
        scene->startGrabbing(0);
        while (scene->isGrabbing())
            std::this_thread::yield();
    }
    const auto stats = scene->statistics();
    state.counters["dropped"] = double(stats.framesDropped);
    state.SetItemsProcessed(state.iterations() * ringSize);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * ringSize * std::int64_t(frameBytes));
}

} // namespace

BENCHMARK(BM_MemcpyFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AcquireSequence)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
