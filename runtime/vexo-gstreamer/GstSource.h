#pragma once

#include "vexo-lib-display/FrameSource.h"

#include <memory>
#include <string>

namespace vexo {
namespace core {

// Frames from any GStreamer pipeline: a camera through V4L2, a media file, a network
// stream, a test source.
//
// The pipeline description is completed with a videoconvert and an appsink that accepts
// the formats the scene shows (GRAY8, GRAY16_LE, RGB, BGR, RGBx, BGRx, xRGB, xBGR); a
// pipeline already producing one of them passes through unchanged, any other raw format
// is converted. The constructor runs the pipeline once to learn its format from the first
// frame; a pipeline that cannot produce a shown format, or none within the probe time, is
// refused with GStreamer's words in lastError().
//
// Every start() runs a fresh pipeline: a file plays from its start, and a pipeline that
// failed (an element erred, a device went) is tried anew. At most two frames wait for the
// scene; an older one then goes and is counted in Status::framesLost, so that a slow
// display never stalls the pipeline. The end of the stream ends the acquisition (Ended),
// or with loop set plays it again from its start; an error ends it as a source gone
// (Failed, with GStreamer's message in problem()). The status shows a clock while a run
// plays and its frames come, at least one a second.
//
// Threads: start(), stop(), waitForFrame() and deliverFrame() run on the scene's
// acquisition thread; setFormat() on the steering thread while nothing is acquired;
// status(), cancel(), isUsable(), lastError() on any thread. GStreamer's streaming threads
// hand over frames, the end of the stream and errors through callbacks.
class GstSource : public FrameSource
{
public:
    struct Settings
    {
        std::string pipeline; // a gst-launch description of the frames' source
        int bits = 16; // significant bits of GRAY16_LE values, 1 to 16; larger values are clamped
        bool loop = false; // at the end of the stream, play it again from its start
        bool sync = true; // frames at the stream's pace; false: as fast as the pipeline makes them
        int probeMilliseconds = 10000; // how long the constructor waits for the first frame
        // A run without a frame for this long counts as a source gone (a sender that
        // stopped); 0: wait as long as it takes.
        int silenceMilliseconds = 0;
    };

    // Descriptions for common sources, to go into Settings::pipeline.
    static std::string v4l2Pipeline(const std::string& device); // e.g. "/dev/video0"
    static std::string mediaPipeline(const std::string& path); // a file; relative to the working directory

    explicit GstSource(const Settings& settings);
    ~GstSource() override;

    // True when the pipeline ran and produced a format this source shows.
    bool isUsable() const;
    // What went wrong last (the pipeline, its format, an error while running); empty when
    // nothing did.
    std::string lastError() const;
    // The GStreamer name of the format the pipeline produces ("BGRx"); empty when unusable.
    std::string formatName() const;

    FrameFormat format() const override;
    // Only the format the pipeline produces; of GRAY16_LE the bits may change (1 to 16).
    bool setFormat(const FrameFormat& format) override;
    Status status() const override;
    bool start() override;
    // lastError(), read by the scene when start() refuses or a wait fails.
    std::string problem() const override;
    void stop() override;
    void cancel() override;
    Delivery waitForFrame() override;
    Delivery deliverFrame(FrameBuffer* target, const Progress& progress) override;

private:
    struct D;
    std::unique_ptr<D> d;
};

} // namespace core
} // namespace vexo
