// Sustained recording rate of 2048 x 2048 16-bit frames to the disk of the folder the
// benchmark runs in (the build folder), against writing the same bytes with write() in a
// loop, one file per frame, in the same run. The recorder is fed as fast as it writes:
// a new frame whenever its queue has room, so none is dropped and the rate is the
// writer's. Neither side waits for the disk itself (the recorder flushes once at its end,
// outside the timing), so both measure what the system takes in while it writes back;
// each iteration writes 768 frames (6 GiB), more than the system lets wait in memory
// for the disk (a fifth of the memory here), so the rate is the disk's, not the cache's.

#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/SceneRecorder.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using vexo::core::FrameBuffer;
using vexo::core::FrameBufferGroup;
using vexo::core::SceneRecorder;

namespace {

constexpr int size = 2048;
constexpr int framesPerIteration = 768;
constexpr std::int64_t frameBytes = std::int64_t{size} * size * 2;
const char* const baselineName = "write_loop";

std::string scratchFolder()
{
    return "bench-recording." + std::to_string(::getpid());
}

void removeFolder(const std::string& folder)
{
    const std::string command = "rm -rf '" + folder + "'";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "cannot remove %s\n", folder.c_str());
}

void writeLoop(benchmark::State& state)
{
    const std::string folder = scratchFolder();
    ::mkdir(folder.c_str(), 0777);
    const std::vector<std::uint16_t> frame(static_cast<std::size_t>(frameBytes / 2), 0x0abc);
    int file = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < framesPerIteration; ++i) {
            const std::string path = folder + "/raw" + std::to_string(file++) + ".bin";
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            const auto* bytes = reinterpret_cast<const char*>(frame.data());
            std::int64_t done = 0;
            while (fd >= 0 && done < frameBytes) {
                const ssize_t n = ::write(fd, bytes + done, static_cast<std::size_t>(frameBytes - done));
                if (n <= 0)
                    break;
                done += n;
            }
            if (fd < 0 || done != frameBytes)
                state.SkipWithError("cannot write");
            ::close(fd);
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        removeFolder(folder);
        ::mkdir(folder.c_str(), 0777);
    }
    removeFolder(folder);
    state.SetBytesProcessed(state.iterations() * framesPerIteration * frameBytes);
}

void record(benchmark::State& state, bool bigTiff)
{
    const auto group = FrameBufferGroup::create(16, size, size, 16, true);
    // Every slot filled once, as a camera's DMA would have filled it.
    for (int i = 0; i < 16; ++i) {
        auto buffer = group->beginWrite();
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                buffer->line(y)[x] = static_cast<std::uint16_t>((x + y + i) & 0xfff);
        buffer->setComplete();
        buffer.reset();
        group->commitWrite();
    }
    const std::string folder = scratchFolder();
    SceneRecorder::Settings settings;
    settings.folder = folder;
    settings.bigTiff = bigTiff;
    settings.queueDepth = 8;
    std::uint64_t lost = 0;
    for (auto _ : state) {
        SceneRecorder recorder;
        std::string error;
        if (!recorder.start(settings, group->capacity(), &error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        for (int i = 0; i < framesPerIteration; ++i) {
            while (recorder.status().queued >= 8)
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            auto buffer = group->beginWrite();
            buffer->setFrameIndex(i);
            buffer->setComplete();
            buffer.reset();
            group->commitWrite();
            recorder.offer(group->buffer(group->frameCounter() - 1));
        }
        recorder.stop();
        recorder.wait();
        const SceneRecorder::Status status = recorder.status();
        lost += status.notWritten;
        if (!status.error.empty())
            state.SkipWithError(status.error.c_str());
        state.SetIterationTime(status.seconds);
        removeFolder(folder);
    }
    state.counters["not_written"] = static_cast<double>(lost);
    state.SetBytesProcessed(state.iterations() * framesPerIteration * frameBytes);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RegisterBenchmark(baselineName, writeLoop)
        ->UseManualTime()
        ->Iterations(2)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("record_files", record, false)
        ->UseManualTime()
        ->Iterations(2)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("record_bigtiff", record, true)
        ->UseManualTime()
        ->Iterations(2)
        ->Unit(benchmark::kMillisecond);
    RatioReporter reporter(baselineName, "write loop");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
