#pragma once

// The state of a GstSource, shared by its source files: the pipeline, its callbacks and
// the layout of its frames (GstSourcePipeline.cpp), and the acquisition (GstSource.cpp).

#include "vexo-core/Mutex.h"
#include "vexo-gstreamer/GstSource.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <string>

namespace vexo {
namespace core {

namespace gst_source {

// Frames waiting for the scene; an older one goes when another arrives.
constexpr std::size_t queuedFrames = 2;
// A run whose frames stop for this long shows no clock.
constexpr gint64 quietMicroseconds = 1000000;

// A frame of one shown format: GStreamer's description of it, and the scene's.
struct Layout
{
    GstVideoInfo info;
    FrameFormat format;
    int pixelBytes = 1; // of gray: 1 or 2
};

// GStreamer once per process, whichever thread comes first.
void initialise();

// False (and why) when the caps are not of a format this source shows.
bool layoutOf(GstCaps* caps, int bits, Layout* layout, std::string* why);
// Writes a mapped frame of layout into target, a buffer of layout.format.
void copyFrame(const Layout& layout, const GstVideoFrame& frame, FrameBuffer& target);

} // namespace gst_source

struct GstSource::D
{
    explicit D(const Settings& settings);
    ~D();

    Settings settings;

    // Guards the pipeline against a stop() on another thread while the acquisition thread
    // seeks it. Taken before queueMutex, never while holding it.
    Mutex pipelineMutex;
    GstElement* pipeline VEXO_GUARDED_BY(pipelineMutex) = nullptr;

    // Acquisition thread, or the steering thread while nothing is acquired: never both at
    // once, so these need no lock.
    GstSample* pending = nullptr; // announced by waitForFrame, not yet delivered
    std::uint64_t pendingIndex = 0;
    GstCaps* acceptedCaps = nullptr; // held: the caps of the last frame that matched the layout
    gst_source::Layout runLayout; // of acceptedCaps
    std::uint64_t madeAtRewind = 0; // frames of the run when the stream was last played again
    gint64 runStart = 0;

    // Guards what GStreamer's streaming threads hand over and what ends a wait; the
    // acquisition thread waits on `arrived` for it to change.
    Mutex queueMutex;
    std::condition_variable arrived;
    struct Queued
    {
        GstSample* sample;
        std::uint64_t index; // frames the pipeline made before this one in this run
    };
    std::deque<Queued> queue VEXO_GUARDED_BY(queueMutex);
    std::uint64_t made VEXO_GUARDED_BY(queueMutex) = 0; // frames of this run, queued or dropped
    bool ended VEXO_GUARDED_BY(queueMutex) = false; // the stream ended
    bool cancelled VEXO_GUARDED_BY(queueMutex) = false;
    std::string failure VEXO_GUARDED_BY(queueMutex); // GStreamer's error of this run
    // While probing, the run's first frame is kept here too: the queue may drop it before
    // the probe wakes, and a later frame of another format must not stand for the stream.
    bool keepFirst VEXO_GUARDED_BY(queueMutex) = false;
    GstSample* probeFrame VEXO_GUARDED_BY(queueMutex) = nullptr;

    // Guards what readers on any thread see of the pipeline's format and problems.
    mutable Mutex stateMutex;
    std::string error VEXO_GUARDED_BY(stateMutex);
    gst_source::Layout layout VEXO_GUARDED_BY(stateMutex);

    // Read from any thread without a lock.
    std::atomic<bool> usable{false};
    std::atomic<bool> gone{false}; // the last run failed
    std::atomic<bool> playing{false};
    std::atomic<std::uint64_t> dropped{0}; // frames that went unseen since the source was made
    std::atomic<std::uint64_t> refused{0}; // frames of another format than the layout
    std::atomic<gint64> lastArrival{0}; // monotonic microseconds of the last frame (or start)

    void setError(const std::string& message) VEXO_EXCLUDES(stateMutex);

    // --- The pipeline (GstSourcePipeline.cpp) ---
    // The description, completed to end in our appsink.
    std::string description() const;
    // Makes the pipeline and sets it playing; false with the reason in error.
    bool open() VEXO_EXCLUDES(pipelineMutex, queueMutex);
    // Stops and frees the pipeline and what it left queued.
    void close() VEXO_EXCLUDES(pipelineMutex, queueMutex);
    // Runs the pipeline until its first frame to learn its layout.
    void probe();
    // True when the sample is of the format the scene was given (its layout then the run's);
    // false with the reason in error.
    bool accepts(GstSample* sample) VEXO_EXCLUDES(stateMutex);
    // Plays the stream again from its start; false when the pipeline cannot seek.
    bool rewind() VEXO_EXCLUDES(pipelineMutex);

    // GStreamer's streaming threads (the bus handler also the thread that changes state).
    static GstFlowReturn newSample(GstAppSink* sink, gpointer self);
    static void endOfStream(GstAppSink* sink, gpointer self);
    static GstBusSyncReply busMessage(GstBus* bus, GstMessage* message, gpointer self);
};

} // namespace core
} // namespace vexo
