#include "vexo-camera/CameraSourcePrivate.h"

#include "vexo-core/MutexLocker.h"
#include "vexo-lib-display/FramePublisher.h"

#include <algorithm>

namespace vexo {
namespace core {

using camera_source::popTimeoutMicroseconds;
using camera_source::probeIntervalMicroseconds;
using camera_source::quietMinimumMicroseconds;
using camera_source::take;

CameraSource::CameraSource(const Settings& settings)
    : d(new D(settings))
{
    d->open();
}

CameraSource::~CameraSource()
{
    if (d->running)
        stop();
    d->close();
}

std::string CameraSource::problem() const
{
    return lastError();
}

bool CameraSource::isUsable() const
{
    return d->usable;
}

std::string CameraSource::lastError() const
{
    MutexLocker lock(d->stateMutex);
    return d->error;
}

std::string CameraSource::cameraId() const
{
    return d->cameraId();
}

std::string CameraSource::pixelFormatName() const
{
    MutexLocker lock(d->stateMutex);
    return d->pixelFormatName;
}

FrameFormat CameraSource::format() const
{
    MutexLocker lock(d->stateMutex);
    return d->current;
}

FrameSource::Status CameraSource::status() const
{
    Status status;
    status.connected = d->opened && !d->lost;
    // A camera whose frames have stopped shows no clock, long before its heartbeat fails;
    // a triggered one may wait for its trigger as long as it likes.
    status.clock =
        status.connected && d->running && (d->triggered || g_get_monotonic_time() - d->lastArrival < d->quietLimit);
    status.extrg = status.clock && d->triggered;
    status.framesLost = d->incomplete + d->refused + d->underruns;
    return status;
}

void CameraSource::setRingCapacity(int capacity)
{
    d->ringCapacity = std::max(capacity, 1);
    // The next start makes a stream of that many buffers.
    d->dropStream();
}

bool CameraSource::start()
{
    d->cancelled = false;
    if (!d->camera || d->lost) {
        d->close();
        d->open();
    }
    if (!d->usable || !d->prepareStream()) {
        d->running = false;
        if (lastError().empty())
            d->setError("the camera " + d->cameraId() + " cannot be used");
        return false;
    }
    GError* e = nullptr;
    const char* mode = arv_device_get_string_feature_value(arv_camera_get_device(d->camera), "TriggerMode", &e);
    if (e)
        g_clear_error(&e);
    d->triggered = mode && std::string(mode) == "On";
    // Ten frame times of the rate asked for, else of the camera's own rate.
    double rate = d->settings.framesPerSecond;
    if (!(rate > 0)) {
        rate = arv_camera_get_frame_rate(d->camera, &e);
        g_clear_error(&e);
    }
    d->quietLimit = rate > 0 ? std::max(quietMinimumMicroseconds, gint64(10e6 / rate)) : 10 * quietMinimumMicroseconds;
    arv_camera_start_acquisition(d->camera, &e);
    if (e) {
        d->setError("cannot start the camera: " + take(e));
        d->running = false;
        return false;
    }
    d->lastArrival = g_get_monotonic_time();
    d->running = true;
    return true;
}

void CameraSource::stop()
{
    d->cancelled = true;
    const bool wasRunning = d->running.exchange(false);
    if (!d->camera)
        return;
    if (d->lost) {
        // Nothing to tell a camera that is gone; its resources go now, and the next start
        // opens it anew.
        d->close();
        return;
    }
    if (wasRunning) {
        GError* e = nullptr;
        arv_camera_stop_acquisition(d->camera, &e);
        if (e)
            d->setError("cannot stop the camera: " + take(e));
    }
    if (d->pending && d->stream) {
        arv_stream_push_buffer(d->stream, d->pending);
        d->pending = nullptr;
    }
}

void CameraSource::cancel()
{
    d->cancelled = true;
}

FrameSource::Delivery CameraSource::waitForFrame()
{
    // A frame that has arrived is delivered whole even if a stop comes now: the caller may
    // already have made room for it.
    if (d->pending)
        return Delivery::Frame;
    for (;;) {
        if (d->lost || !d->running || !d->stream)
            return d->cancelled && !d->lost && d->usable ? Delivery::Cancelled : Delivery::Failed;
        if (d->cancelled)
            return Delivery::Cancelled;
        ArvBuffer* buffer = arv_stream_timeout_pop_buffer(d->stream, popTimeoutMicroseconds);
        d->countUnderruns();
        if (!buffer) {
            const gint64 now = g_get_monotonic_time();
            if (now - d->lastArrival >= quietMinimumMicroseconds && now - d->lastProbe >= probeIntervalMicroseconds) {
                d->lastProbe = now;
                if (!d->answersControl()) {
                    d->setError("the camera " + d->cameraId() + " was lost: it does not answer");
                    d->lost = true;
                }
            }
            continue;
        }
        d->lastArrival = g_get_monotonic_time();
        if (!d->acceptable(buffer)) {
            arv_stream_push_buffer(d->stream, buffer);
            continue;
        }
        d->pending = buffer;
        return Delivery::Frame;
    }
}

FrameSource::Delivery CameraSource::deliverFrame(FrameBuffer* target, const Progress& progress)
{
    const Delivery waited = waitForFrame();
    if (waited != Delivery::Frame)
        return waited;
    ArvBuffer* buffer = d->pending;
    d->pending = nullptr;
    std::size_t size = 0;
    const auto* data = static_cast<const std::uint8_t*>(arv_buffer_get_data(buffer, &size));
    if (target && !d->converter.convert(data, size, d->strideOf(buffer), *target)) {
        // The scene's buffers are of another format: nothing garbled is shown.
        ++d->refused;
        arv_stream_push_buffer(d->stream, buffer);
        return Delivery::Cancelled;
    }
    FramePublisher publisher(target, progress);
    publisher.linesWritten(d->converter.frameFormat().height, size);
    std::uint64_t nanoseconds = arv_buffer_get_timestamp(buffer);
    if (nanoseconds == 0)
        nanoseconds = arv_buffer_get_system_timestamp(buffer);
    publisher.finish(nanoseconds / 1000, static_cast<std::uint32_t>(arv_buffer_get_frame_id(buffer)), 0);
    // Straight back to the stream, whether the frame was taken or dropped.
    arv_stream_push_buffer(d->stream, buffer);
    return Delivery::Frame;
}

} // namespace core
} // namespace vexo
