#include "vexo-lib-display/SimulatorSource.h"

#include "vexo-core/MutexLocker.h"
#include "vexo-core/StopWatch.h"
#include "vexo-lib-display/CancellableSleep.h"
#include "vexo-lib-display/FramePublisher.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

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

namespace {

// The fast fill builds lines from these instead of dividing per sample; each gives what
// patternValue gives, sample for sample.

// k mod 256 in [0, 256): in two's complement the low byte is the same value for negative k.
int phaseOf(std::uint64_t k)
{
    return static_cast<int>(k & 255);
}

// The saw-tooth twice over, so the 256 values from any phase are contiguous.
void fillPeriod(std::uint16_t (&period)[512], int bits)
{
    for (int k = 0; k < 256; ++k) {
        period[k] = static_cast<std::uint16_t>(sawTooth(k, bits));
        period[k + 256] = period[k];
    }
}

// Lines (first, end) become copies of line first, each copied from it while it is in
// the cache.
void repeatLine(FrameBuffer& target, int first, int end)
{
    const std::uint16_t* source = target.line(first);
    const auto lineBytes = sizeof(std::uint16_t) * static_cast<std::size_t>(target.width() * target.channels());
    for (int y = first + 1; y < end; ++y)
        std::memcpy(target.line(y), source, lineBytes);
}

void gradientGrayLine(std::uint16_t* out, int width, const std::uint16_t* period, int phase)
{
    for (int x = 0; x < width; x += 256)
        std::memcpy(out + x, period + phase,
                    sizeof(std::uint16_t) * static_cast<std::size_t>(std::min(256, width - x)));
}

void gradientColourPixels(std::uint16_t* block, int from, int to, const std::uint16_t* red, const std::uint16_t* blue,
                          std::uint16_t green)
{
    for (int x = from; x < to; ++x) {
        block[3 * x] = red[x];
        block[3 * x + 1] = green;
        block[3 * x + 2] = blue[x];
    }
}

#if defined(__GNUC__) && defined(__x86_64__)
// Eight pixels at a time with byte shuffles: the scalar interleave costs about a cycle a
// pixel, a fifth of a colour frame's fill. SSSE3 is not in the x86-64 baseline, so this
// is only called where the processor has it. Returns the pixels done.
__attribute__((target("ssse3"))) int gradientColourPixelsSsse3(std::uint16_t* block, int pixels,
                                                               const std::uint16_t* red, const std::uint16_t* blue,
                                                               std::uint16_t green)
{
    // For each of the three output vectors, which bytes of R and of B go where (-1: none)
    // and where G goes.
    const __m128i fromRed[3] = {_mm_setr_epi8(0, 1, -1, -1, -1, -1, 2, 3, -1, -1, -1, -1, 4, 5, -1, -1),
                                _mm_setr_epi8(-1, -1, 6, 7, -1, -1, -1, -1, 8, 9, -1, -1, -1, -1, 10, 11),
                                _mm_setr_epi8(-1, -1, -1, -1, 12, 13, -1, -1, -1, -1, 14, 15, -1, -1, -1, -1)};
    const __m128i fromBlue[3] = {_mm_setr_epi8(-1, -1, -1, -1, 0, 1, -1, -1, -1, -1, 2, 3, -1, -1, -1, -1),
                                 _mm_setr_epi8(4, 5, -1, -1, -1, -1, 6, 7, -1, -1, -1, -1, 8, 9, -1, -1),
                                 _mm_setr_epi8(-1, -1, 10, 11, -1, -1, -1, -1, 12, 13, -1, -1, -1, -1, 14, 15)};
    const __m128i g = _mm_set1_epi16(static_cast<short>(green));
    const __m128i greenAt[3] = {_mm_and_si128(g, _mm_setr_epi16(0, -1, 0, 0, -1, 0, 0, -1)),
                                _mm_and_si128(g, _mm_setr_epi16(0, 0, -1, 0, 0, -1, 0, 0)),
                                _mm_and_si128(g, _mm_setr_epi16(-1, 0, 0, -1, 0, 0, -1, 0))};
    int x = 0;
    for (; x + 8 <= pixels; x += 8) {
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(red + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blue + x));
        for (int i = 0; i < 3; ++i) {
            const __m128i v = _mm_or_si128(
                _mm_or_si128(_mm_shuffle_epi8(r, fromRed[i]), _mm_shuffle_epi8(b, fromBlue[i])), greenAt[i]);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 3 * x + 8 * i), v);
        }
    }
    return x;
}
#endif

// One 256-pixel block of a colour line: R follows x, G is the line's constant, B follows
// x + y. The line is that block over and over.
void gradientColourBlock(std::uint16_t* block, int pixels, const std::uint16_t* period, int redPhase, int bluePhase)
{
    const std::uint16_t* red = period + redPhase;
    const std::uint16_t* blue = period + bluePhase;
    const std::uint16_t green = period[bluePhase];
    int done = 0;
#if defined(__GNUC__) && defined(__x86_64__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3)
        done = gradientColourPixelsSsse3(block, pixels, red, blue, green);
#endif
    gradientColourPixels(block, done, pixels, red, blue, green);
}

void repeatInto(std::uint16_t* out, int samples, const std::uint16_t* block, int blockSamples)
{
    for (int i = 0; i < samples; i += blockSamples)
        std::memcpy(out + i, block,
                    sizeof(std::uint16_t) * static_cast<std::size_t>(std::min(blockSamples, samples - i)));
}

void setPixel(std::uint16_t* out, int x, int channels, std::uint16_t value)
{
    std::fill_n(out + static_cast<std::size_t>(x) * channels, channels, value);
}

// A line of the top half: bar i covers the x with x * 8 / width == i, that is from
// ceil(i * width / 8) on.
void chartBarsLine(std::uint16_t* out, int width, bool gray, std::uint16_t max)
{
    const std::int64_t w = width;
    for (int bar = 0; bar < 8; ++bar) {
        const int begin = static_cast<int>((bar * w + 7) / 8);
        const int end = static_cast<int>(((bar + 1) * w + 7) / 8);
        if (gray) {
            std::fill(out + begin, out + end, static_cast<std::uint16_t>(bar * max / 7));
            continue;
        }
        const std::uint16_t rgb[3] = {static_cast<std::uint16_t>(bar & 4 ? max : 0),
                                      static_cast<std::uint16_t>(bar & 2 ? max : 0),
                                      static_cast<std::uint16_t>(bar & 1 ? max : 0)};
        for (int x = begin; x < end; ++x)
            std::memcpy(out + 3 * x, rgb, sizeof rgb);
    }
}

// A line of the bottom half: floor(x * max / (width - 1)) stepped without a division,
// carrying the remainder.
void chartRampLine(std::uint16_t* out, int width, int channels, std::uint16_t max)
{
    if (width < 2) {
        std::fill_n(out, width * channels, std::uint16_t(0));
        return;
    }
    const unsigned divisor = static_cast<unsigned>(width - 1);
    const unsigned step = max / divisor;
    const unsigned carry = max % divisor;
    unsigned value = 0;
    unsigned remainder = 0;
    for (int x = 0; x < width; ++x) {
        setPixel(out, x, channels, static_cast<std::uint16_t>(value));
        value += step;
        remainder += carry;
        if (remainder >= divisor) {
            ++value;
            remainder -= divisor;
        }
    }
}

} // namespace

void SimulatorSource::fillLines(const Settings& s, FrameBuffer& target, std::int64_t n, int first, int last)
{
    const int width = target.width();
    const int height = s.format.height;
    const int channels = target.channels();
    if (width != s.format.width || target.height() != height || channels != s.format.channels()) {
        // A target of another shape: the chart's geometry comes from the format, so each
        // sample is worked out on its own.
        for (int y = first; y < last; ++y) {
            std::uint16_t* out = target.line(y);
            for (int x = 0; out && x < width; ++x)
                for (int c = 0; c < channels; ++c)
                    out[x * channels + c] = static_cast<std::uint16_t>(patternValue(s, x, y, n, c));
        }
        return;
    }
    const int samples = width * channels;
    if (samples == 0 || first >= last)
        return;
    if (s.pattern == Pattern::TestChart) {
        const auto max = static_cast<std::uint16_t>((1u << s.format.bitsPerPixel) - 1);
        // Four runs of like lines: border, bars, ramp, border. Each run's first line is
        // built, the others copied from it.
        const int bottomBorder = std::max(height - 1, 1);
        const int rampBegin = std::clamp(height / 2, 1, bottomBorder);
        const auto run = [&](int begin, int end, const auto& build) {
            begin = std::max(begin, first);
            end = std::min(end, last);
            if (begin >= end)
                return;
            build(target.line(begin));
            repeatLine(target, begin, end);
        };
        const auto border = [&](std::uint16_t* out) { std::fill_n(out, samples, max); };
        const auto framed = [&](std::uint16_t* out) {
            setPixel(out, 0, channels, max);
            setPixel(out, width - 1, channels, max);
        };
        run(0, 1, border);
        run(1, rampBegin, [&](std::uint16_t* out) {
            chartBarsLine(out, width, s.format.gray, max);
            framed(out);
        });
        run(rampBegin, height - 1, [&](std::uint16_t* out) {
            chartRampLine(out, width, channels, max);
            framed(out);
        });
        run(bottomBorder, height, border);
        return;
    }
    std::uint16_t period[512];
    fillPeriod(period, s.format.bitsPerPixel);
    // Phases in unsigned arithmetic: it wraps where the signed sum would overflow, and
    // the low byte is all that counts.
    const std::uint64_t shift = 2 * static_cast<std::uint64_t>(n);
    if (s.format.gray) {
        const std::size_t lineBytes = sizeof(std::uint16_t) * static_cast<std::size_t>(samples);
        gradientGrayLine(target.line(first), width, period, phaseOf(first + shift));
        for (int y = first + 1; y < last; ++y) {
            // The line before, one pixel on, and one new pixel at the end.
            std::uint16_t* out = target.line(y);
            std::memcpy(out, target.line(y - 1) + 1, lineBytes - sizeof(std::uint16_t));
            out[width - 1] = period[phaseOf(y + shift) + ((width - 1) & 255)];
        }
        return;
    }
    // Colour lines 256 apart are alike: each block is built once and written into all of
    // them while it is in the cache.
    std::uint16_t block[3 * 256];
    const int blockPixels = std::min(width, 256);
    for (int y0 = first; y0 < std::min(last, first + 256); ++y0) {
        gradientColourBlock(block, blockPixels, period, phaseOf(shift), phaseOf(y0 + shift));
        for (int y = y0; y < last; y += 256)
            repeatInto(target.line(y), samples, block, 3 * blockPixels);
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
