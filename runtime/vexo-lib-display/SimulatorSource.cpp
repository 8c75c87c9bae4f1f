#include "vexo-lib-display/SimulatorSource.h"

#include "vexo-core/MutexLocker.h"
#include "vexo-core/StopWatch.h"
#include "vexo-lib-display/CancellableSleep.h"
#include "vexo-lib-display/FramePublisher.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <algorithm>
#include <chrono>

namespace vexo {
namespace core {

namespace {

std::uint64_t sawTooth(std::int64_t k, int bits)
{
    const std::int64_t phase = ((k % 256) + 256) % 256;
    return static_cast<std::uint64_t>(phase) * ((std::uint64_t(1) << bits) - 1) / 255;
}

std::uint64_t chartValue(const SimulatorSource::Settings& s, int x, int y, int c)
{
    const FrameFormat& f = s.format;
    const std::uint64_t max = (std::uint64_t(1) << f.bitsPerPixel) - 1;
    if (x == 0 || y == 0 || x == f.width - 1 || y == f.height - 1)
        return max;
    if (y < f.height / 2) {
        const int bar = std::min(7, x * 8 / std::max(f.width, 1));
        if (f.gray)
            return bar * max / 7;
        // Bars in binary order: bit 2 red, bit 1 green, bit 0 blue.
        return (bar >> (2 - c)) & 1 ? max : 0;
    }
    return f.width > 1 ? static_cast<std::uint64_t>(x) * max / static_cast<std::uint64_t>(f.width - 1) : 0;
}

} // namespace

SimulatorSource::SimulatorSource(const Settings& settings)
    : current(settings)
{
    current.format.bitsPerPixel = std::clamp(current.format.bitsPerPixel, 1, 16);
}

SimulatorSource::~SimulatorSource() = default;

FrameFormat SimulatorSource::format() const
{
    MutexLocker lock(mutex);
    return current.format;
}

bool SimulatorSource::setFormat(const FrameFormat& format)
{
    if (format.width < 0 || format.height < 0 || format.bitsPerPixel < 1 || format.bitsPerPixel > 16)
        return false;
    MutexLocker lock(mutex);
    current.format = format;
    return true;
}

SimulatorSource::Settings SimulatorSource::settings() const
{
    MutexLocker lock(mutex);
    return current;
}

bool SimulatorSource::setFramesPerSecond(double framesPerSecond)
{
    if (!(framesPerSecond >= 0))
        return false;
    MutexLocker lock(mutex);
    current.framesPerSecond = framesPerSecond;
    return true;
}

void SimulatorSource::setPattern(Pattern pattern)
{
    MutexLocker lock(mutex);
    current.pattern = pattern;
}

FrameSource::Status SimulatorSource::status() const
{
    MutexLocker lock(mutex);
    Status status;
    status.connected = true;
    status.clock = running;
    status.exsync = running && current.trigger == Trigger::ExternalSync;
    status.extrg = running && current.trigger == Trigger::ExternalTrigger;
    return status;
}

bool SimulatorSource::start()
{
    MutexLocker lock(mutex);
    running = true;
    cancelled = false;
    startTime = StopWatch::nowMicroseconds();
    nextFrame = 0;
    announced = -1;
    announcedArrived = false;
    return true;
}

void SimulatorSource::stop()
{
    {
        MutexLocker lock(mutex);
        running = false;
        cancelled = true;
    }
    wake.notify_all();
}

void SimulatorSource::cancel()
{
    {
        MutexLocker lock(mutex);
        cancelled = true;
    }
    wake.notify_all();
}

bool SimulatorSource::waitUntil(std::uint64_t due)
{
    MutexLocker lock(mutex);
    return sleepUntilOrCancelled(lock, wake, cancelled, due);
}

std::uint64_t SimulatorSource::patternValue(const Settings& s, int x, int y, std::int64_t n, int c)
{
    if (s.pattern == Pattern::TestChart)
        return chartValue(s, x, y, c);
    const int bits = s.format.bitsPerPixel;
    if (s.format.gray)
        return sawTooth(std::int64_t(x) + y + 2 * n, bits);
    switch (c) {
    case 0:
        return sawTooth(std::int64_t(x) + 2 * n, bits);
    case 1:
        return sawTooth(std::int64_t(y) + 2 * n, bits);
    default:
        return sawTooth(std::int64_t(x) + y + 2 * n, bits);
    }
}

void SimulatorSource::fillLines(const Settings& s, FrameBuffer& target, std::int64_t n, int first, int last)
{
    const int width = target.width();
    const int channels = target.channels();
    if (s.pattern == Pattern::MovingGradient && s.format.gray) {
        // One period of the saw-tooth, shifted per line: a copy instead of a division per pixel.
        std::uint16_t period[256];
        for (int k = 0; k < 256; ++k)
            period[k] = static_cast<std::uint16_t>(sawTooth(k, s.format.bitsPerPixel));
        for (int y = first; y < last; ++y) {
            std::uint16_t* out = target.line(y);
            const std::int64_t base = ((std::int64_t(y) + 2 * n) % 256 + 256) % 256;
            for (int x = 0; x < width; ++x)
                out[x] = period[(base + x) & 255];
        }
        return;
    }
    for (int y = first; y < last; ++y) {
        std::uint16_t* out = target.line(y);
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                out[x * channels + c] = static_cast<std::uint16_t>(patternValue(s, x, y, n, c));
    }
}

namespace {

// The moment chunk i (0-based) of frame n is complete: a frame's lines arrive spread
// over its frame time, the last chunk at its end, so the rate holds whatever the chunking.
std::uint64_t chunkDue(std::uint64_t start, std::uint64_t frameTime, std::int64_t n, int i, int chunks)
{
    return start + static_cast<std::uint64_t>(n) * frameTime
        + frameTime * static_cast<std::uint64_t>(i + 1) / static_cast<std::uint64_t>(chunks);
}

int chunkCount(const SimulatorSource::Settings& s)
{
    const int height = s.format.height;
    const int step = s.linesPerChunk > 0 ? s.linesPerChunk : std::max(height, 1);
    return std::max(1, (height + step - 1) / step);
}

std::uint64_t frameTimeOf(const SimulatorSource::Settings& s)
{
    return s.framesPerSecond > 0 ? static_cast<std::uint64_t>(1e6 / s.framesPerSecond) : 0;
}

} // namespace

FrameSource::Delivery SimulatorSource::waitForFrame()
{
    std::uint64_t due;
    {
        MutexLocker lock(mutex);
        // A frame that has begun to arrive is delivered whole even if a stop comes now:
        // the caller may already have made room for it.
        if (announced >= 0 && announcedArrived)
            return Delivery::Frame;
        if (cancelled)
            return Delivery::Cancelled;
        if (announced < 0)
            announced = nextFrame++;
        due = chunkDue(startTime, frameTimeOf(current), announced, 0, chunkCount(current));
    }
    if (!waitUntil(due))
        return Delivery::Cancelled;
    MutexLocker lock(mutex);
    announcedArrived = true;
    return Delivery::Frame;
}

FrameSource::Delivery SimulatorSource::deliverFrame(FrameBuffer* target, const Progress& progress)
{
    const Delivery waited = waitForFrame();
    if (waited != Delivery::Frame)
        return waited;
    std::int64_t n;
    std::uint64_t start;
    Settings settings;
    {
        MutexLocker lock(mutex);
        n = announced;
        announced = -1;
        announcedArrived = false;
        start = startTime;
        settings = current;
    }
    const std::uint64_t frameTime = frameTimeOf(settings);
    const int chunks = chunkCount(settings);
    FramePublisher publisher(target, progress);
    const bool whole = publisher.writeInSteps(
        settings.format, settings.linesPerChunk,
        [&](int chunk) { return waitUntil(chunkDue(start, frameTime, n, chunk, chunks)); },
        [&](FrameBuffer& buffer, int first, int last) { fillLines(settings, buffer, n, first, last); });
    if (!whole)
        return Delivery::Cancelled;
    publisher.finish(StopWatch::nowMicroseconds(), static_cast<std::uint32_t>(n & 0xffffff), 0);
    return Delivery::Frame;
}

} // namespace core
} // namespace vexo
