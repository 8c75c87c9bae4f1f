// Replaying a saved series: FileSource delivering 2048 x 2048 gray 12 frames from the page
// cache into a frame buffer, against read() of the same files into memory.

#include "RatioReporter.h"

#include "vexo-lib-display/FileSource.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace vexo::core;

namespace {

constexpr int side = 2048;
constexpr int bits = 12;
constexpr int files = 8;
const char* const baselineName = "read_files";

std::string folder;

std::string seriesFile(int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "/bench%05d.tif", i);
    return folder + name;
}

// The series, saved once; reading it once puts it in the page cache.
bool saveSeries()
{
    FrameBuffer frame(side, side, bits, true);
    for (int i = 0; i < files; ++i) {
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                frame.line(y)[x] = std::uint16_t((x * 7 + y * 3 + i) & 0xfff);
        frame.setFrameIndex(i);
        frame.setComplete();
        if (frame.saveTiff(seriesFile(i)) != 0)
            return false;
    }
    return true;
}

// One iteration reads one whole file into memory.
void readFiles(benchmark::State& state)
{
    std::vector<char> bytes(std::size_t(side) * side * 2 + (1 << 16));
    int i = 0;
    std::int64_t total = 0;
    for (auto _ : state) {
        const int fd = ::open(seriesFile(i++ % files).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            state.SkipWithError("cannot open a file of the series");
            return;
        }
        ssize_t n;
        while ((n = ::read(fd, bytes.data(), bytes.size())) > 0)
            total += n;
        ::close(fd);
        benchmark::DoNotOptimize(bytes.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(total);
}

// One iteration delivers one frame (the series looped, no rate limit).
void replayFrames(benchmark::State& state)
{
    FileSource::Settings settings;
    settings.path = seriesFile(0);
    settings.loop = true;
    FileSource source(settings);
    if (!source.isUsable() || !source.start()) {
        state.SkipWithError(source.lastError().c_str());
        return;
    }
    FrameBuffer frame(side, side, bits, true);
    for (auto _ : state) {
        if (source.deliverFrame(&frame, {}) != FrameSource::Delivery::Frame) {
            state.SkipWithError(source.problem().c_str());
            break;
        }
        benchmark::DoNotOptimize(frame.line(side - 1));
    }
    source.stop();
    state.SetItemsProcessed(state.iterations());
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::string pattern = "/tmp/vexo-bench-files-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return 1;
    folder = pattern;
    if (!saveSeries()) {
        std::fprintf(stderr, "cannot save the series in %s\n", folder.c_str());
        return 1;
    }
    benchmark::RegisterBenchmark(baselineName, readFiles)->Unit(benchmark::kMicrosecond)->UseRealTime();
    benchmark::RegisterBenchmark("replay_2048x2048_gray12", replayFrames)->Unit(benchmark::kMicrosecond)->UseRealTime();
    RatioReporter reporter(baselineName, "read()");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    for (int i = 0; i < files; ++i)
        ::unlink(seriesFile(i).c_str());
    ::rmdir(folder.c_str());
    return 0;
}
