#include "vexo-gstreamer/GstSourcePrivate.h"

#include "vexo-core/MutexLocker.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FramePublisher.h"

#include <chrono>

namespace vexo {
namespace core {

GstSource::GstSource(const Settings& settings)
    : d(new D(settings))
{
    gst_source::initialise();
    d->probe();
}

GstSource::~GstSource()
{
    stop();
}

bool GstSource::isUsable() const
{
    return d->usable;
}

std::string GstSource::lastError() const
{
    MutexLocker lock(d->stateMutex);
    return d->error;
}

std::string GstSource::problem() const
{
    return lastError();
}

std::string GstSource::formatName() const
{
    MutexLocker lock(d->stateMutex);
    return d->usable ? gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&d->layout.info)) : "";
}

FrameFormat GstSource::format() const
{
    MutexLocker lock(d->stateMutex);
    return d->layout.format;
}

bool GstSource::setFormat(const FrameFormat& format)
{
    MutexLocker lock(d->stateMutex);
    FrameFormat& current = d->layout.format;
    if (!d->usable)
        return false;
    if (format == current)
        return true;
    // Only the bits of 16-bit gray are ours to choose; the rest is the pipeline's.
    const bool bitsOnly = GST_VIDEO_INFO_FORMAT(&d->layout.info) == GST_VIDEO_FORMAT_GRAY16_LE && format.gray
        && format.width == current.width && format.height == current.height;
    if (!bitsOnly || format.bitsPerPixel < 1 || format.bitsPerPixel > 16)
        return false;
    current.bitsPerPixel = format.bitsPerPixel;
    d->settings.bits = format.bitsPerPixel;
    return true;
}

FrameSource::Status GstSource::status() const
{
    Status status;
    status.connected = d->usable && !d->gone;
    status.clock = d->playing && g_get_monotonic_time() - d->lastArrival < gst_source::quietMicroseconds;
    status.framesLost = d->dropped + d->refused;
    return status;
}

bool GstSource::start()
{
    {
        MutexLocker lock(d->queueMutex);
        d->cancelled = false;
    }
    if (!d->usable)
        return false;
    d->close();
    if (!d->open()) {
        d->gone = true;
        return false;
    }
    d->setError({});
    d->gone = false;
    d->playing = true;
    return true;
}

void GstSource::stop()
{
    cancel();
    d->close();
}

void GstSource::cancel()
{
    {
        MutexLocker lock(d->queueMutex);
        d->cancelled = true;
    }
    d->arrived.notify_all();
}

FrameSource::Delivery GstSource::waitForFrame()
{
    // A frame that has arrived is delivered whole even if a stop comes now: the caller may
    // already have made room for it.
    if (d->pending)
        return Delivery::Frame;
    const gint64 silence = gint64(d->settings.silenceMilliseconds) * 1000;
    for (;;) {
        D::Queued next{nullptr, 0};
        std::string failed;
        bool end = false;
        {
            MutexLocker lock(d->queueMutex);
            // Without a run nothing would wake the wait: what ended the run still holds.
            const bool running = d->playing;
            bool silent = false;
            while (running && !d->cancelled && d->queue.empty() && !d->ended && d->failure.empty() && !silent) {
                if (silence <= 0) {
                    lock.wait(d->arrived);
                    continue;
                }
                const gint64 left = d->lastArrival + silence - g_get_monotonic_time();
                silent = left <= 0;
                if (!silent)
                    lock.waitFor(d->arrived, std::chrono::microseconds(left));
            }
            if (d->cancelled)
                return Delivery::Cancelled;
            if (!d->queue.empty() && running) {
                next = d->queue.front();
                d->queue.pop_front();
            } else if (!d->failure.empty()) {
                failed = d->failure;
            } else if (d->ended) {
                // A stream that ends without a frame since it was played again ends for good.
                end = !d->settings.loop || d->made == d->madeAtRewind;
            } else if (silent) {
                // Kept as the run's failure, so that a later wait says the same.
                d->failure = "no frame for " + std::to_string(d->settings.silenceMilliseconds) + " ms";
                failed = d->failure;
            } else {
                return Delivery::Cancelled; // stopped, or never started
            }
        }
        if (!failed.empty()) {
            d->setError(failed);
            d->gone = true;
            d->playing = false;
            return Delivery::Failed;
        }
        if (!next.sample) {
            if (!end && d->rewind())
                continue;
            d->playing = false;
            return Delivery::Ended;
        }
        if (!d->accepts(next.sample)) {
            // The pipeline changed its format: nothing garbled is shown.
            ++d->refused;
            gst_sample_unref(next.sample);
            continue;
        }
        d->pending = next.sample;
        d->pendingIndex = next.index;
        return Delivery::Frame;
    }
}

FrameSource::Delivery GstSource::deliverFrame(FrameBuffer* target, const Progress& progress)
{
    const Delivery waited = waitForFrame();
    if (waited != Delivery::Frame)
        return waited;
    GstSample* sample = d->pending;
    d->pending = nullptr;
    const gst_source::Layout& layout = d->runLayout;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (target) {
        GstVideoFrame frame;
        const bool fits = target->width() == layout.format.width && target->height() == layout.format.height
            && target->isGray() == layout.format.gray;
        if (!fits || !buffer
            || !gst_video_frame_map(&frame, const_cast<GstVideoInfo*>(&layout.info), buffer, GST_MAP_READ)) {
            // The scene's buffers are of another format, or the frame cannot be read.
            ++d->refused;
            gst_sample_unref(sample);
            return Delivery::Cancelled;
        }
        gst_source::copyFrame(layout, frame, *target);
        gst_video_frame_unmap(&frame);
    }
    FramePublisher publisher(target, progress);
    publisher.linesWritten(layout.format.height, buffer ? gst_buffer_get_size(buffer) : 0);
    const GstClockTime pts = buffer ? GST_BUFFER_PTS(buffer) : GST_CLOCK_TIME_NONE;
    publisher.finish(GST_CLOCK_TIME_IS_VALID(pts) ? pts / 1000 : 0, static_cast<std::uint32_t>(d->pendingIndex), 0);
    gst_sample_unref(sample);
    return Delivery::Frame;
}

} // namespace core
} // namespace vexo
