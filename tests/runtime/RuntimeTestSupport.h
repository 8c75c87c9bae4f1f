#pragma once

// Shared by the runtime tests: a visualizer that records every callback with its thread,
// scenes over the simulator, a source that can refuse to start, a scene with a visualizer
// attached and frames pushed by hand, and a single grab.

#include "vexo-core/StopWatch.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/DisplaySceneVisualizer.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/ManualFrameSource.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <QSize>
#include <QString>
#include <QStringList>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class RecordingVisualizer : public vexo::core::DisplaySceneVisualizer
{
public:
    struct Call
    {
        std::string name;
        std::int64_t frameIndex = -1; // buffer updates
        bool flag = false;            // status: overflow; sources: connected
        int shownWidth = -1;          // frames: the width of the buffer shown, if any
        std::thread::id thread = std::this_thread::get_id();
    };

    // Keep the newest frame, as a window keeps what it shows.
    bool keepNewestFrame = false;
    // Called on the scene's thread with each buffer update.
    std::function<void(const boost::shared_ptr<vexo::core::FrameBuffer>&)> onBuffer;
    // Called with each invalidation, on the thread that changes the format.
    std::function<void()> onInvalidated;

    ~RecordingVisualizer() override
    {
        if (auto s = scene())
            s->detachVisualizer(this);
    }

    std::vector<Call> calls() const { std::lock_guard<std::mutex> lock(mutex); return recorded; }
    // Calls of that name; only flagged ones if asked, only those on one thread if given.
    int count(const std::string& name, bool flagged = false, std::thread::id thread = {}) const
    {
        std::lock_guard<std::mutex> lock(mutex); // counted in place: the record grows long
        return int(std::count_if(recorded.begin(), recorded.end(), [&](const Call& c) {
            return c.name == name && (c.flag || !flagged) && (thread == std::thread::id() || c.thread == thread);
        }));
    }
    boost::shared_ptr<vexo::core::DisplaySceneFrame> newestFrame() const { std::lock_guard<std::mutex> lock(mutex); return kept; }
    void forgetFrame() { std::lock_guard<std::mutex> lock(mutex); kept.reset(); }

    void notifySceneAttached() override { record({"attached"}); }
    void notifySceneFrameChanged(boost::shared_ptr<vexo::core::DisplaySceneFrame> frame, double) override
    {
        const auto shown = frame->frameBuffer();
        record({"frame", -1, false, shown ? shown->width() : -1}, keepNewestFrame ? &frame : nullptr);
        freeSceneFrame(frame);
    }
    void notifyGrabbingStarted() override { record({"started"}); }
    void notifyGrabbingStopped() override { record({"stopped"}); }
    void notifyBufferUpdated(boost::shared_ptr<vexo::core::FrameBuffer> buffer) override
    {
        record({"buffer", buffer->frameIndex()});
        if (onBuffer)
            onBuffer(buffer);
    }
    void notifyCameraStatusUpdate(bool, bool, bool, bool, bool, bool overflow, int, int) override
    {
        record({"status", -1, overflow});
    }
    void notifySourcesConnected(bool connected) override { record({"sources", -1, connected}); }
    void notifyFrameBuffersInvalidated() override
    {
        record({"invalidated"});
        if (onInvalidated)
            onInvalidated();
    }
    void notifyFrameBuffersAdded() override { record({"added"}); }
    void requestTimedInterrupt(boost::shared_ptr<vexo::core::StopWatch>, std::uint64_t) override
    {
        // No event loop here: wake the scene at once; it renders when it is woken.
        if (auto s = scene())
            s->timerInterrupt();
    }

private:
    void record(const Call& c, const boost::shared_ptr<vexo::core::DisplaySceneFrame>* frame = nullptr)
    {
        std::lock_guard<std::mutex> lock(mutex);
        recorded.push_back(c);
        if (frame)
            kept = *frame;
    }

    mutable std::mutex mutex; // guards recorded and kept
    std::vector<Call> recorded;
    boost::shared_ptr<vexo::core::DisplaySceneFrame> kept;
};

inline boost::shared_ptr<vexo::core::DisplayScene> simulatorScene(const vexo::core::FrameFormat& format,
                                                                  int buffers, double fps = 0)
{
    vexo::core::SimulatorSource::Settings settings;
    settings.format = format;
    settings.framesPerSecond = fps;
    return vexo::core::DisplayScene::create(
        std::unique_ptr<vexo::core::FrameSource>(new vexo::core::SimulatorSource(settings)), buffers);
}

// A source that refuses to start while told to, as a camera that is gone does.
class RefusingSource : public vexo::core::ManualFrameSource
{
public:
    using ManualFrameSource::ManualFrameSource;
    std::atomic<bool> refuse{false};
    std::atomic<bool> fail{false}; // the next frame delivered ends the run as a source gone
    std::atomic<bool> held{false}, starting{false}; // while held, a start waits (spinning) on its thread
    bool start() override
    {
        starting = true;
        while (held.load())
            std::this_thread::yield();
        starting = false;
        return !refuse && ManualFrameSource::start();
    }
    Delivery deliverFrame(vexo::core::FrameBuffer* target, const Progress& progress) override
    {
        // A failing source's frame is consumed and goes with it.
        const Delivery delivered = ManualFrameSource::deliverFrame(fail ? nullptr : target, progress);
        return fail && delivered == Delivery::Frame ? Delivery::Failed : delivered;
    }
    std::string problem() const override { return refuse || fail ? "the camera 127.0.0.1 was lost" : ""; }
};

// Every sample of the buffer, line by line.
inline std::vector<std::uint16_t> samplesOf(const vexo::core::FrameBuffer& buffer)
{
    std::vector<std::uint16_t> all;
    for (int y = 0; y < buffer.height(); ++y)
        all.insert(all.end(), buffer.line(y), buffer.line(y) + buffer.width() * buffer.channels());
    return all;
}

// A scene with a visualizer attached; with a canvas size it is visible and renders.
struct SceneRig
{
    explicit SceneRig(boost::shared_ptr<vexo::core::DisplayScene> s, QSize canvas = {}, bool keepNewest = false)
        : scene(std::move(s))
    {
        visualizer.keepNewestFrame = keepNewest;
        scene->attachVisualizer(&visualizer);
        scene->setCanvasSize(canvas.width(), canvas.height());
        scene->setVisualizerVisible(!canvas.isEmpty());
    }
    boost::shared_ptr<vexo::core::DisplayScene> scene;
    RecordingVisualizer visualizer; // detaches before the scene goes
};

inline vexo::core::ManualFrameSource& manual(const boost::shared_ptr<vexo::core::DisplayScene>& scene)
{
    return static_cast<vexo::core::ManualFrameSource&>(scene->source());
}

inline void pushComplete(vexo::core::ManualFrameSource& source)
{
    source.pushFrame([](vexo::core::FrameBuffer& b) { b.setComplete(); });
}

// "started 0 1 ... n-1 stopped": a run that stored n frames and dropped none.
inline QString run(int n)
{
    QString told = "started";
    for (int i = 0; i < n; ++i)
        told += " " + QString::number(i);
    return told + " stopped";
}

// The acquisition as told, in order: starts, stops, ring changes, and the frame index of
// each buffer update.
inline QString story(const RecordingVisualizer& visualizer)
{
    QStringList told;
    for (const auto& c : visualizer.calls())
        if (c.name == "buffer" || c.name == "started" || c.name == "stopped" || c.name == "invalidated" || c.name == "added")
            told << (c.name == "buffer" ? QString::number(c.frameIndex) : QString::fromStdString(c.name));
    return told.join(' ');
}

// The frame a single grab stored; null when the grab did not end within patience (ms).
inline boost::shared_ptr<vexo::core::FrameBuffer> grabOne(const boost::shared_ptr<vexo::core::DisplayScene>& scene,
                                                          int patience = 20000)
{
    scene->startGrabbing(1);
    if (!QTest::qWaitFor([&] { return !scene->isGrabbing(); }, patience))
        return nullptr;
    return scene->frameBufferGroup()->buffer(scene->frameBufferGroup()->frameCounter() - 1);
}

#if __has_include(<tiffio.h>)
#include <tiffio.h>

// A saved file read back with libtiff, for the tests that link it.
struct TiffImage
{
    QList<int> header; // width, height, samples per pixel, bits per sample, photometric
    std::string description;
    std::vector<std::uint16_t> samples;
};

// An unreadable file has no header and no samples.
inline TiffImage readTiff(const std::string& path)
{
    TiffImage image;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return image;
    std::uint32_t width = 0, height = 0;
    std::uint16_t channels = 0, bits = 0, photometric = 0;
    char* description = nullptr;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &channels);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &description))
        image.description = description;
    image.header = {int(width), int(height), channels, bits, photometric};
    std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(tif)));
    const auto* wide = reinterpret_cast<const std::uint16_t*>(row.data());
    for (std::uint32_t y = 0; y < height && TIFFReadScanline(tif, row.data(), y, 0) == 1; ++y)
        for (std::size_t i = 0; i < std::size_t(width) * channels; ++i)
            image.samples.push_back(bits == 16 ? wide[i] : row[i]);
    TIFFClose(tif);
    return image;
}
#endif
