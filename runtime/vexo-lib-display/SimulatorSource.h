#pragma once

#include "vexo-core/Mutex.h"
#include "vexo-lib-display/FrameSource.h"

#include <condition_variable>
#include <cstdint>

namespace vexo {
namespace core {

// The built-in camera simulator: frames of any format at a fixed rate (or as fast as
// possible), optionally arriving a few lines at a time like a slow camera's.
//
// Patterns, with M = 2^bitsPerPixel and n the frame number since start():
// - MovingGradient: a diagonal saw-tooth of period 256 pixels moving 2 pixels per frame:
//     g(k) = ((k mod 256) * (M - 1)) / 255, so every depth spans 0 .. M - 1
//     gray  v(x, y) = g(x + y + 2n)
//     colour R = g(x + 2n), G = g(y + 2n), B = g(x + y + 2n)
// - TestChart: static; the top half holds eight vertical bars of levels
//   i * (M - 1) / 7 (colour: black, blue, green, cyan, red, magenta, yellow, white at full
//   level), the bottom half a horizontal ramp (x * (M - 1)) / (width - 1), and the outermost
//   pixel frame is M - 1.
// Values never exceed M - 1.
class SimulatorSource : public FrameSource
{
public:
    enum class Pattern { MovingGradient, TestChart };
    enum class Trigger { FreeRun, ExternalSync, ExternalTrigger };

    struct Settings
    {
        FrameFormat format;
        double framesPerSecond = 30; // 0: as fast as possible
        Pattern pattern = Pattern::MovingGradient;
        Trigger trigger = Trigger::FreeRun;
        int linesPerChunk = 0; // 0: the whole frame at once
    };

    explicit SimulatorSource(const Settings& settings);
    ~SimulatorSource() override;

    FrameFormat format() const override;
    bool setFormat(const FrameFormat& format) override;
    Status status() const override;
    bool start() override;
    void stop() override;
    void cancel() override;
    Delivery waitForFrame() override;
    Delivery deliverFrame(FrameBuffer* target, const Progress& progress) override;

    Settings settings() const;
    // Like setFormat(), never while acquiring: the frame timing of a run stays as it began.
    // False for a negative rate, which is then unchanged.
    bool setFramesPerSecond(double framesPerSecond);
    void setPattern(Pattern pattern);
    // The value the pattern gives pixel (x, y) of frame n, channel c (0 for gray; 0, 1, 2
    // for R, G, B).
    static std::uint64_t patternValue(const Settings& settings, int x, int y, std::int64_t n, int c);

private:
    // Acquisition thread: waits until the monotonic time `due` (microseconds) or a
    // cancel; false on cancel.
    bool waitUntil(std::uint64_t due) VEXO_EXCLUDES(mutex);
    // Acquisition thread: lines [first, last) of frame n, sample for sample what
    // patternValue gives, built from small tables and copies. Keeps nothing between calls.
    static void fillLines(const Settings& settings, FrameBuffer& target, std::int64_t n, int first, int last);

    // Guards the settings and the run's state: the steering thread changes them, the
    // acquisition thread reads them, status() and cancel() come from any thread.
    // waitUntil sleeps on wake.
    mutable Mutex mutex;
    std::condition_variable wake;
    Settings current VEXO_GUARDED_BY(mutex);
    bool running VEXO_GUARDED_BY(mutex) = false;
    bool cancelled VEXO_GUARDED_BY(mutex) = false;
    std::uint64_t startTime VEXO_GUARDED_BY(mutex) = 0;
    std::int64_t nextFrame VEXO_GUARDED_BY(mutex) = 0;
    // The frame waitForFrame() waited for, -1 when none.
    std::int64_t announced VEXO_GUARDED_BY(mutex) = -1;
    // Its first lines are due: it is delivered whole.
    bool announcedArrived VEXO_GUARDED_BY(mutex) = false;
};

} // namespace core
} // namespace vexo
