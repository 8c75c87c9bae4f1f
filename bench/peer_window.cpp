// One measurement for bench/peer_pyqtgraph: how many frames per second a display path
// shows on a canvas of about 1024 x 768, and the CPU time of this process per shown frame.
//
//   peer_window --mode ours|sim|bare --width W --height H --bits B --colour 0|1 --zoom STEP
//               [--frames FILE --count N] [--rate FPS] [--seconds S] [--warmup S]
//
// ours: the channel window on a scene whose source copies pre-made frames (read from FILE)
//       into the ring as fast as it can: memory traffic like a camera's DMA, and a core's
//       worth of CPU that DMA would not cost.
// dma:  the same, but each ring buffer gets a pre-made frame once and later frames into it
//       are only published, as a grabber's DMA fills a buffer without the CPU.
// sim:  the same window on the built-in simulator at full speed.
// bare: a plain widget that turns pre-made canvas-sized RGB32 images into a pixmap and
//       paints it, nothing else: what Qt itself needs per shown frame on this platform.
//
// Prints one line of key=value pairs: fps (frames shown), cpu_ms (process CPU per shown
// frame), acquired_fps, handed_fps (frames put on the canvas), gui_cpu_ms and
// source_cpu_ms (that share of cpu_ms; -1 where not known) and canvas (the size rendered).

#include "display/Qt4DisplaySceneVisualizer.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FramePublisher.h"
#include "vexo-lib-display/FrameSource.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QSpinBox>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace vexo::core;

namespace {

constexpr int canvasWidth = 1024;
constexpr int canvasHeight = 768;

double cpuSeconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double processCpuSeconds()
{
    return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
}

// The calling thread's: split the process's time into GUI thread, source and the rest
// (the scene's render thread, mostly).
double threadCpuSeconds()
{
    return cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
}

struct Options
{
    std::string mode = "ours";
    FrameFormat format{2048, 2048, 12, true};
    int zoomStep = 6;
    std::string framesPath;
    int frameCount = 8;
    double seconds = 3;
    double warmup = 1;
    double rate = 0; // of the pre-made frames; 0: unpaced
};

bool parse(int argc, char** argv, Options* o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const std::string value = argv[i + 1];
        if (key == "--mode")
            o->mode = value;
        else if (key == "--width")
            o->format.width = std::stoi(value);
        else if (key == "--height")
            o->format.height = std::stoi(value);
        else if (key == "--bits")
            o->format.bitsPerPixel = std::stoi(value);
        else if (key == "--colour")
            o->format.gray = value == "0";
        else if (key == "--zoom")
            o->zoomStep = std::stoi(value);
        else if (key == "--frames")
            o->framesPath = value;
        else if (key == "--count")
            o->frameCount = std::stoi(value);
        else if (key == "--seconds")
            o->seconds = std::stod(value);
        else if (key == "--warmup")
            o->warmup = std::stod(value);
        else if (key == "--rate")
            o->rate = std::stod(value);
        else
            return false;
    }
    return o->mode == "sim" || !o->framesPath.empty();
}

// The pre-made frames in the ring's sample layout (16-bit values, RGB interleaved). The
// file holds them packed as numpy writes them: one byte per value up to 8 bits, else two.
std::vector<std::vector<std::uint16_t>> readFrames(const Options& o)
{
    const std::size_t samples = std::size_t(o.format.width) * std::size_t(o.format.height) * o.format.channels();
    const std::size_t bytesPerSample = o.format.bitsPerPixel > 8 ? 2 : 1;
    QFile file(QString::fromStdString(o.framesPath));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::vector<std::vector<std::uint16_t>> frames;
    for (int n = 0; n < o.frameCount; ++n) {
        const QByteArray bytes = file.read(qint64(samples * bytesPerSample));
        if (std::size_t(bytes.size()) != samples * bytesPerSample)
            return {};
        std::vector<std::uint16_t> frame(samples);
        if (bytesPerSample == 2) {
            std::memcpy(frame.data(), bytes.constData(), samples * 2);
        } else {
            const auto* in = reinterpret_cast<const std::uint8_t*>(bytes.constData());
            for (std::size_t i = 0; i < samples; ++i)
                frame[i] = in[i];
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

// Delivers the pre-made frames in turn, without pacing: the only work per frame is one
// memcpy into the ring buffer, what a frame grabber's DMA would have done for free; or,
// copying once per buffer, no work on the pixels at all.
class PremadeSource : public FrameSource
{
public:
    // rate: frames per second, as a camera sends them; 0 as fast as the scene takes them.
    PremadeSource(const FrameFormat& format, std::vector<std::vector<std::uint16_t>> frames, bool copyEveryFrame,
                  double rate)
        : frameFormat(format)
        , frames(std::move(frames))
        , copyEveryFrame(copyEveryFrame)
        , period(rate > 0 ? std::chrono::nanoseconds(std::int64_t(1e9 / rate)) : std::chrono::nanoseconds(0))
    {
    }

    FrameFormat format() const override { return frameFormat; }
    bool setFormat(const FrameFormat& format) override { return format == frameFormat; }
    Status status() const override
    {
        Status s;
        s.connected = true;
        s.clock = running.load();
        return s;
    }
    bool start() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        cancelled = false;
        running.store(true);
        due = std::chrono::steady_clock::now();
        return true;
    }
    void stop() override
    {
        running.store(false);
        cancel();
    }
    void cancel() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            cancelled = true;
        }
        wake.notify_all();
    }
    // Acquisition thread: until the next frame is due, or a cancel.
    Delivery waitForFrame() override
    {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait_until(lock, due, [this] { return cancelled; });
        return cancelled ? Delivery::Cancelled : Delivery::Frame;
    }
    Delivery deliverFrame(FrameBuffer* target, const Progress& progress) override
    {
        if (waitForFrame() == Delivery::Cancelled)
            return Delivery::Cancelled;
        due += period;
        const std::vector<std::uint16_t>& frame = frames[next % frames.size()];
        ++next;
        const std::size_t lineSamples = std::size_t(frameFormat.width) * frameFormat.channels();
        const bool copy = copyEveryFrame || std::find(filled.begin(), filled.end(), target) == filled.end();
        if (copy && target)
            filled.push_back(target);
        FramePublisher publisher(target, progress);
        publisher.writeInSteps(
            frameFormat, 0, [](int) { return true; },
            [&](FrameBuffer& buffer, int first, int last) {
                if (!copy)
                    return;
                std::memcpy(buffer.line(first), frame.data() + std::size_t(first) * lineSamples,
                            std::size_t(last - first) * lineSamples * sizeof(std::uint16_t));
            });
        publisher.finish(std::uint64_t(next), std::uint32_t(next), 0);
        threadCpu.store(threadCpuSeconds());
        return Delivery::Frame;
    }

    // Any thread: the CPU time the acquisition thread had used by its last frame.
    double acquisitionCpuSeconds() const { return threadCpu.load(); }

private:
    const FrameFormat frameFormat;
    const std::vector<std::vector<std::uint16_t>> frames;
    const bool copyEveryFrame;
    std::size_t next = 0; // acquisition thread only
    std::vector<const FrameBuffer*> filled; // acquisition thread only: buffers holding a frame
    const std::chrono::nanoseconds period;
    std::atomic<bool> running{false};
    // Guards cancelled and due; the acquisition thread sleeps on wake until a frame is due.
    std::mutex mutex;
    std::condition_variable wake;
    bool cancelled = true;
    std::chrono::steady_clock::time_point due;
    std::atomic<double> threadCpu{0};
};

// Counts the canvas paints that show a frame the canvas has not shown before. The window
// hands every frame it puts on the canvas back to the scene (freeSceneFrame) on the GUI
// thread right after setting the pixmap, before the paint it asked for; frames replaced
// while pending are never handed back. So a paint that sees the scene's recycled count
// changed since the last counted paint shows a new frame. The count alone (framesRecycled)
// would over-count: two frames handed over between two paints are shown once.
class NewFramePaints : public QObject
{
public:
    explicit NewFramePaints(const DisplayScene& scene)
        : scene(scene)
    {
    }
    std::uint64_t count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) {
            const std::uint64_t handedOver = scene.recycledFrameCount();
            if (handedOver != lastSeen) {
                lastSeen = handedOver;
                ++count;
            }
        }
        return QObject::eventFilter(watched, e);
    }

private:
    const DisplayScene& scene; // borrowed: outlives the filter
    std::uint64_t lastSeen = 0;
};

void runEventsFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

// What a run prints; CPU figures are milliseconds per shown frame, -1 where not known.
struct Figures
{
    double seconds = 0;
    double shown = 0;
    double acquired = 0; // frames into the ring (ours), or images handed to the canvas (bare)
    double handedOver = 0; // frames the window put on the canvas
    double rendered = 0; // frames the scene rendered (ours)
    double cpu = 0;
    double guiCpu = 0;
    double sourceCpu = -1;
    int width = 0;
    int height = 0;
};

void print(const Figures& f)
{
    const auto perFrame = [&](double cpu) { return cpu < 0 || f.shown <= 0 ? -1 : cpu * 1000 / f.shown; };
    std::printf("fps=%.2f cpu_ms=%.3f acquired_fps=%.2f handed_fps=%.2f rendered_fps=%.2f gui_cpu_ms=%.3f "
                "source_cpu_ms=%.3f canvas=%dx%d\n",
                f.shown / f.seconds, perFrame(f.cpu), f.acquired / f.seconds, f.handedOver / f.seconds,
                f.rendered / f.seconds, perFrame(f.guiCpu), perFrame(f.sourceCpu), f.width, f.height);
    std::fflush(stdout);
}

int runWindow(const Options& o)
{
    std::unique_ptr<FrameSource> source;
    const PremadeSource* premade = nullptr; // borrowed: the scene owns it
    if (o.mode == "sim") {
        SimulatorSource::Settings settings;
        settings.format = o.format;
        settings.framesPerSecond = 0;
        source.reset(new SimulatorSource(settings));
    } else {
        auto frames = readFrames(o);
        if (frames.empty()) {
            std::fprintf(stderr, "peer_window: cannot read %d frames from %s\n", o.frameCount, o.framesPath.c_str());
            return 1;
        }
        auto made = std::make_unique<PremadeSource>(o.format, std::move(frames), o.mode == "ours", o.rate);
        premade = made.get();
        source = std::move(made);
    }
    auto scene = DisplayScene::create(std::move(source));
    if (!scene->ringError().empty()) {
        std::fprintf(stderr, "peer_window: %s\n", scene->ringError().c_str());
        return 1;
    }
    // The scene's configuration for the measurement, all in this one place. Rate limit off
    // here: every frame the window can take is rendered.
    scene->setRenderRateLimit(0);

    std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 0, 0));
    scene->attachVisualizer(window.get());
    QWidget* canvas = window->findChild<QWidget*>("canvasWidget");
    window->show();
    QApplication::processEvents();
    // Through the window's own zoom control, so window and scene agree on the view.
    window->findChild<QSpinBox*>("zoomValueSpinBox")->setValue(o.zoomStep);
    // The scroll bars come and go with the zoom and take canvas room: size until it fits.
    for (int attempt = 0; attempt < 4 && canvas->size() != QSize(canvasWidth, canvasHeight); ++attempt) {
        window->resize(window->width() + canvasWidth - canvas->width(),
                       window->height() + canvasHeight - canvas->height());
        QApplication::processEvents();
    }
    // The window's controls may want more width than the canvas needs: cap the canvas
    // itself then, so both sides show the same number of screen pixels.
    if (canvas->size() != QSize(canvasWidth, canvasHeight)) {
        canvas->setMaximumSize(canvasWidth, canvasHeight);
        QApplication::processEvents();
    }

    NewFramePaints paints(*scene);
    canvas->installEventFilter(&paints);
    window->internalGrabInfiniteButtonClicked();
    runEventsFor(o.warmup);
    if (!scene->isGrabbing()) {
        std::fprintf(stderr, "peer_window: acquisition did not run\n");
        return 1;
    }

    const std::uint64_t shownBefore = paints.count;
    const DisplayScene::Statistics before = scene->statistics();
    const double cpuBefore = processCpuSeconds();
    const double guiBefore = threadCpuSeconds();
    const double sourceBefore = premade ? premade->acquisitionCpuSeconds() : 0;
    QElapsedTimer clock;
    clock.start();
    runEventsFor(o.seconds);
    Figures figures;
    figures.seconds = clock.nsecsElapsed() / 1e9;
    figures.cpu = processCpuSeconds() - cpuBefore;
    figures.guiCpu = threadCpuSeconds() - guiBefore;
    if (premade)
        figures.sourceCpu = premade->acquisitionCpuSeconds() - sourceBefore;
    figures.shown = double(paints.count - shownBefore);
    const DisplayScene::Statistics after = scene->statistics();
    figures.acquired = double(after.framesAcquired - before.framesAcquired);
    figures.handedOver = double(after.framesRecycled - before.framesRecycled);
    figures.rendered = double(after.framesRendered - before.framesRendered);

    window->internalStopButtonClicked();
    while (scene->isGrabbing())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    canvas->removeEventFilter(&paints);
    scene->detachVisualizer(window.get());
    // The size the scene renders for, which is what counts.
    const DisplayScene::View view = scene->view();
    figures.width = view.canvasWidth;
    figures.height = view.canvasHeight;
    print(figures);
    return 0;
}

// The least a Qt widget does to show a canvas-sized frame: image to pixmap, paint.
class BareCanvas : public QWidget
{
public:
    void present(const QImage& image)
    {
        pixmap.convertFromImage(image, Qt::AutoColor);
        fresh = true;
        update();
    }
    std::uint64_t shown = 0;

protected:
    void paintEvent(QPaintEvent* e) override
    {
        if (fresh) {
            fresh = false;
            ++shown;
        }
        QPainter painter(this);
        painter.drawPixmap(e->rect().topLeft(), pixmap, e->rect());
    }

private:
    QPixmap pixmap;
    bool fresh = false;
};

int runBare(const Options& o)
{
    // Canvas-sized RGB32 images, made once, different enough that each is a new picture.
    std::vector<QImage> images;
    for (int n = 0; n < o.frameCount; ++n) {
        QImage image(canvasWidth, canvasHeight, QImage::Format_RGB32);
        for (int y = 0; y < canvasHeight; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < canvasWidth; ++x) {
                const int v = (x + y + 8 * n) & 255;
                line[x] = qRgb(v, v, v);
            }
        }
        images.push_back(image);
    }
    BareCanvas canvas;
    canvas.setAttribute(Qt::WA_OpaquePaintEvent);
    canvas.resize(canvasWidth, canvasHeight);
    canvas.show();
    QApplication::processEvents();

    std::size_t next = 0;
    const auto runFor = [&](double seconds) {
        QElapsedTimer clock;
        clock.start();
        while (clock.nsecsElapsed() < qint64(seconds * 1e9)) {
            canvas.present(images[next % images.size()]);
            ++next;
            QApplication::processEvents();
        }
        return clock.nsecsElapsed() / 1e9;
    };
    runFor(o.warmup);
    const std::uint64_t shownBefore = canvas.shown;
    const std::size_t presentedBefore = next;
    const double cpuBefore = processCpuSeconds();
    const double guiBefore = threadCpuSeconds();
    Figures figures;
    figures.seconds = runFor(o.seconds);
    figures.cpu = processCpuSeconds() - cpuBefore;
    figures.guiCpu = threadCpuSeconds() - guiBefore;
    figures.shown = double(canvas.shown - shownBefore);
    figures.acquired = double(next - presentedBefore);
    figures.handedOver = figures.acquired;
    figures.width = canvas.width();
    figures.height = canvas.height();
    print(figures);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    QApplication app(argc, argv);
    if (!parse(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: peer_window --mode ours|sim|bare --width W --height H --bits B --colour 0|1 "
                     "--zoom STEP [--frames FILE --count N] [--seconds S] [--warmup S]\n");
        return 2;
    }
    return options.mode == "bare" ? runBare(options) : runWindow(options);
}
