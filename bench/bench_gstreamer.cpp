// GStreamer's test source at 1920 x 1080, GRAY8 and RGBx, as fast as it makes frames:
// delivered into frame buffers by the GStreamer source, and through a scene into the
// window, beside the same pipeline into a fakesink in the same run. Every time is per
// frame: of a fakesink run per frame made, of a source run per frame delivered (its queue
// keeps two, so a slow reader loses some), so the ratio against the fakesink is our cost
// per frame above GStreamer's own.

#include "RatioReporter.h"
#include "WindowRun.h"

#include "vexo-gstreamer/GstSource.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <gst/gst.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

using namespace vexo::core;

namespace {

constexpr int frames = 200;

std::string testSource(const std::string& format, int count)
{
    return "videotestsrc is-live=false num-buffers=" + std::to_string(count) + " ! video/x-raw,format=" + format
        + ",width=1920,height=1080";
}

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Seconds for `frames` frames into a fakesink; negative when the pipeline failed.
double fakeSinkRun(const std::string& format)
{
    GstElement* pipeline = gst_parse_launch((testSource(format, frames) + " ! fakesink sync=false").c_str(), nullptr);
    if (!pipeline)
        return -1;
    const auto start = std::chrono::steady_clock::now();
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(bus, GST_CLOCK_TIME_NONE,
                                                     static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const double took = seconds(start);
    const bool ended = message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (message)
        gst_message_unref(message);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ended ? took : -1;
}

void fakeSink(benchmark::State& state, const std::string& format)
{
    double total = 0;
    const double cpuBefore = window_run::processCpuSeconds();
    for (auto _ : state) {
        const double took = fakeSinkRun(format);
        if (took < 0) {
            state.SkipWithError("the pipeline failed");
            return;
        }
        state.SetIterationTime(took / frames); // per frame, as the other cases
        total += took;
    }
    state.counters["fps"] = double(frames) * double(state.iterations()) / total;
    state.counters["cpu_us_per_frame"] =
        (window_run::processCpuSeconds() - cpuBefore) * 1e6 / (double(frames) * double(state.iterations()));
}

// An iteration is one frame acquired into the ring, the window showing what it can.
void toWindow(benchmark::State& state, const std::string& format)
{
    GstSource::Settings settings;
    settings.pipeline = "videotestsrc is-live=false ! video/x-raw,format=" + format + ",width=1920,height=1080";
    settings.sync = false;
    std::unique_ptr<GstSource> source(new GstSource(settings));
    if (!source->isUsable()) {
        state.SkipWithError(source->lastError().c_str());
        return;
    }
    window_run::throughWindow(state, std::move(source), 0);
}

void source(benchmark::State& state, const std::string& format)
{
    GstSource::Settings settings;
    settings.pipeline = testSource(format, frames);
    settings.sync = false;
    GstSource source(settings);
    if (!source.isUsable()) {
        state.SkipWithError(source.lastError().c_str());
        return;
    }
    const FrameFormat f = source.format();
    std::vector<std::unique_ptr<FrameBuffer>> ring;
    for (int i = 0; i < 4; ++i)
        ring.emplace_back(new FrameBuffer(f.width, f.height, f.bitsPerPixel, f.gray));
    double delivered = 0, lost = 0, took = 0, baseline = 0;
    for (auto _ : state) {
        const std::uint64_t lostBefore = source.status().framesLost;
        const auto start = std::chrono::steady_clock::now();
        source.start();
        int n = 0;
        while (source.waitForFrame() == FrameSource::Delivery::Frame
               && source.deliverFrame(ring[n % ring.size()].get(), {}) == FrameSource::Delivery::Frame)
            ++n;
        source.stop();
        const double run = seconds(start);
        if (n == 0) {
            state.SkipWithError("no frame delivered");
            return;
        }
        state.SetIterationTime(run / n);
        delivered += n;
        took += run;
        lost += double(source.status().framesLost - lostBefore);
        state.PauseTiming();
        baseline += fakeSinkRun(format);
        state.ResumeTiming();
    }
    state.counters["delivered_fps"] = delivered / took;
    state.counters["lost_per_run"] = lost / double(state.iterations());
    // Per frame delivered, against the fakesink's per frame made, measured beside each run.
    state.counters["x_fakesink"] = (took / delivered) / (baseline / (double(frames) * double(state.iterations())));
}

} // namespace

BENCHMARK_CAPTURE(fakeSink, GRAY8, std::string("GRAY8"))->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(3);
BENCHMARK_CAPTURE(source, GRAY8, std::string("GRAY8"))->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(3);
BENCHMARK_CAPTURE(toWindow, GRAY8, std::string("GRAY8"))->Unit(benchmark::kMicrosecond)->Iterations(300)->UseRealTime();
BENCHMARK_CAPTURE(fakeSink, RGBx, std::string("RGBx"))->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(3);
BENCHMARK_CAPTURE(source, RGBx, std::string("RGBx"))->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(3);
BENCHMARK_CAPTURE(toWindow, RGBx, std::string("RGBx"))->Unit(benchmark::kMicrosecond)->Iterations(300)->UseRealTime();

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    gst_init(&argc, &argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter("fakeSink/GRAY8", "fakesink GRAY8");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
