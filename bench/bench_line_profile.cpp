// Line profile worker speed relative to writing the picture's bytes with memset, both
// measured in this run: one run (start to end) for a line of 16384 samples at 12 bits,
// gray and colour, against a memset of the same 16384 x 256 x 4 bytes. The runs reuse the
// worker's picture store, as the dialog's do while the width stays. Real time throughout:
// the work happens on the worker thread. A ratio table follows the usual output.

#include "lineprofile/Qt4LineProfileThread.h"

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QCoreApplication>

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::Qt4LineProfileThread;

namespace {

constexpr int samples = 16384;
constexpr int lines = 4;
constexpr std::int64_t pictureBytes = std::int64_t{samples} * 256 * 4;
const char* const baselineName = "memset_picture";

boost::shared_ptr<DisplaySceneFrame> makeFrame(bool gray)
{
    boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(samples, lines, 12, gray));
    for (int y = 0; y < lines; ++y) {
        std::uint16_t* line = buffer->line(y);
        const int values = samples * buffer->channels();
        // A saw-tooth over the whole range, so every level has curve points and fills.
        for (int i = 0; i < values; ++i)
            line[i] = static_cast<std::uint16_t>((i * 5 + y * 11) & 0xfff);
    }
    buffer->setComplete();
    boost::shared_ptr<DisplaySceneFrame> frame(new DisplaySceneFrame(8, 8));
    frame->setFrameBuffer(buffer);
    return frame;
}

void memsetPicture(benchmark::State& state)
{
    std::vector<unsigned char> picture(static_cast<std::size_t>(pictureBytes), 0);
    for (auto _ : state) {
        std::memset(picture.data(), 0x44, picture.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * pictureBytes);
}

void workerRun(benchmark::State& state, bool gray)
{
    Qt4LineProfileThread worker;
    {
        std::lock_guard<std::mutex> lock(worker.mutex);
        worker.frame = makeFrame(gray);
        worker.yPosition = 1;
    }
    // The first run makes the store; the dialog's later runs reuse it.
    worker.start();
    worker.wait();
    for (auto _ : state) {
        worker.start();
        worker.wait();
    }
    state.SetBytesProcessed(state.iterations() * pictureBytes);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    benchmark::RegisterBenchmark(baselineName, memsetPicture)->Unit(benchmark::kMicrosecond)->UseRealTime();
    benchmark::RegisterBenchmark("worker_run_gray12_16384", workerRun, true)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("worker_run_rgb12_16384", workerRun, false)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();

    RatioReporter reporter(baselineName, "memset");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
