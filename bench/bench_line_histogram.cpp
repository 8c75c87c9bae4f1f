// One line histogram worker run (count a line, draw the 256 x 256 picture) relative to
// writing the picture's bytes once with memset, both measured in this run. The line is a
// gray 12-bit line of 16384 samples; the run is driven on the benchmark's own thread, so
// thread start-up is not part of it. A third case times only the pixel reads every run
// must make through the frame buffer's getter. A ratio table follows the usual output.

#include "linehistogram/Qt4LineHistogramThread.h"

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::Qt4LineHistogramThread;

namespace {

constexpr int lineLength = 16384;
constexpr int bits = 12;
const char* const baselineName = "memset_picture";

// Makes the run callable on the calling thread.
struct DirectRun : Qt4LineHistogramThread
{
    using Qt4LineHistogramThread::run;
};

boost::shared_ptr<DisplaySceneFrame> makeFrame()
{
    auto buffer = boost::make_shared<FrameBuffer>(lineLength, 1, bits, true);
    std::uint16_t* line = buffer->line(0);
    // Uneven counts, so the bars have many different heights.
    for (int x = 0; x < lineLength; ++x)
        line[x] = static_cast<std::uint16_t>((x * x / 7 + x * 13) & ((1 << bits) - 1));
    buffer->setComplete();
    auto frame = boost::make_shared<DisplaySceneFrame>(1, 1);
    frame->setFrameBuffer(buffer);
    return frame;
}

void memsetPicture(benchmark::State& state, DirectRun* worker)
{
    unsigned char* bytes = worker->picture.bits();
    int value = 0;
    for (auto _ : state) {
        std::memset(bytes, value++ & 0xff, Qt4LineHistogramThread::pictureBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * Qt4LineHistogramThread::pictureBytes);
}

void workerRun(benchmark::State& state, DirectRun* worker)
{
    for (auto _ : state) {
        worker->run();
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * Qt4LineHistogramThread::pictureBytes);
}

// Not a worker case: only the 16384 pixel reads through the frame buffer's getter, which
// every run has to make; the floor under the run whatever its drawing costs.
void getterReads(benchmark::State& state, const FrameBuffer* buffer)
{
    for (auto _ : state) {
        std::uint64_t sum = 0;
        for (int x = 0; x < lineLength; ++x) {
            std::uint64_t value = 0;
            buffer->getPixelValueGray(static_cast<unsigned>(x), 0, &value);
            sum += value;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * Qt4LineHistogramThread::pictureBytes);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    const boost::shared_ptr<DisplaySceneFrame> frame = makeFrame();
    DirectRun worker;
    worker.setFrame(frame);
    worker.setYPosition(0);
    worker.run(); // allocates the picture, as the first run of a tool does; runs nobody takes
    // from then on draw into two stores in turn

    benchmark::RegisterBenchmark(baselineName, memsetPicture, &worker)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("run_gray12_16384", workerRun, &worker)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("getter_reads_16384", getterReads, frame->frameBuffer().get())
        ->Unit(benchmark::kMicrosecond);

    RatioReporter reporter(baselineName, "memset");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
