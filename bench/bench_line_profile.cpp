// Line profile speed relative to plain memory traffic, both measured in this run:
// - one worker run (start to end) for a line of 16384 samples at 12 bits, gray and colour,
//   against a memset of the same 16384 x 256 x 4 bytes. Runs nobody takes a picture of draw
//   into the worker's two stores in turn, as the dialog's runs draw into the stores it gives
//   back. Real time: the work is on the worker.
// - the GUI thread's share of a new picture in the dialog, with a detail view about 1000
//   pixels wide scrolled to the middle of the line: the dialog's result slot (hand-over,
//   pixmap, overview and detail) and the paint of both canvases, at zoom 1, 4, 16 and 64 for
//   16384 samples and at zoom 1 and 64 for 1 << 20; against a memcpy of the 1000 x 256 x 4
//   bytes on screen. The worker's run in between is not timed.
// A ratio table per group follows the usual output.

#include "lineprofile/Qt4LineProfileThread.h"

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include "lineprofile/Qt4LineProfileDialog.h"

#include <QApplication>
#include <QMetaObject>
#include <QImage>

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
using vexo::core::Qt4LineProfileDialog;
using vexo::core::Qt4LineProfileThread;

namespace {

constexpr int samples = 16384;
constexpr int lines = 4;
constexpr std::int64_t pictureBytes = std::int64_t{samples} * 256 * 4;
const char* const baselineName = "memset_picture";
constexpr int detailWidth = 1000;
constexpr std::int64_t visibleBytes = std::int64_t{detailWidth} * 256 * 4;
const char* const visibleBaselineName = "memcpy_visible";

boost::shared_ptr<DisplaySceneFrame> makeFrame(bool gray, int width = samples)
{
    boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(width, lines, 12, gray));
    for (int y = 0; y < lines; ++y) {
        std::uint16_t* line = buffer->line(y);
        const int values = width * buffer->channels();
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

void memcpyVisible(benchmark::State& state)
{
    const std::vector<unsigned char> from(static_cast<std::size_t>(visibleBytes), 0x44);
    std::vector<unsigned char> to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), to.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * visibleBytes);
}

// The dialog shows line 1 or 2 of a frame `width` samples wide, alternately, so each run
// brings a new picture.
void detailPicture(benchmark::State& state, int width, int zoom)
{
    Qt4LineProfileDialog dialog(nullptr);
    dialog.resize(detailWidth + dialog.width() - dialog.profileDetailWidget->width(), dialog.height());
    dialog.show();
    dialog.zoomSpinBox->setValue(zoom);
    dialog.setSceneFrame(makeFrame(true, width));
    dialog.waitForThread();
    QCoreApplication::processEvents();
    dialog.profileDetailScrollBar->setValue(dialog.profileDetailScrollBar->maximum() / 2);
    QImage detail(dialog.profileDetailWidget->size(), QImage::Format_RGB32);
    QImage overview(dialog.profileOverviewWidget->size(), QImage::Format_RGB32);
    int y = 1;
    for (auto _ : state) {
        state.PauseTiming();
        y = 3 - y;
        dialog.yPositionSpinBox->setValue(y);
        dialog.waitForThread();
        // The run's finished() is delivered by hand below, in the timed part.
        QCoreApplication::removePostedEvents(&dialog, QEvent::MetaCall);
        state.ResumeTiming();
        QMetaObject::invokeMethod(&dialog, "newProfileAvailable", Qt::DirectConnection);
        dialog.profileOverviewWidget->render(&overview);
        dialog.profileDetailWidget->render(&detail);
        benchmark::DoNotOptimize(detail.constBits());
    }
    state.counters["detail_width"] = dialog.profileDetailWidget->width();
    state.SetBytesProcessed(state.iterations() * visibleBytes);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
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

    benchmark::RegisterBenchmark(visibleBaselineName, memcpyVisible)->Unit(benchmark::kMicrosecond);
    for (int zoom : {1, 4, 16, 64}) {
        benchmark::RegisterBenchmark(("detail_picture_16384_zoom" + std::to_string(zoom)).c_str(), detailPicture,
                                     samples, zoom)
            ->Unit(benchmark::kMicrosecond);
    }
    // A picture of 1 GiB: few runs, each worker run alone takes a good part of a second.
    for (int zoom : {1, 64}) {
        benchmark::RegisterBenchmark(("detail_picture_1M_zoom" + std::to_string(zoom)).c_str(), detailPicture, 1 << 20,
                                     zoom)
            ->Unit(benchmark::kMicrosecond)
            ->Iterations(8);
    }

    RatioReporter reporter(baselineName, "memset");
    benchmark::RunSpecifiedBenchmarks(&reporter, "^(memset_picture|worker_run_)");
    reporter.printRatios();
    RatioReporter visibleReporter(visibleBaselineName, "memcpy");
    benchmark::RunSpecifiedBenchmarks(&visibleReporter, "^(memcpy_visible|detail_picture_)");
    visibleReporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
