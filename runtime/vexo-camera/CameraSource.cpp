#include "vexo-camera/CameraSource.h"

#include "vexo-camera/PixelFormatConverter.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <arv.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace vexo {
namespace core {

namespace {

// How long one wait for a buffer lasts before cancel and loss are looked at again.
constexpr guint64 popTimeoutMicroseconds = 20000;

// How long a GigE Vision camera keeps our control without a heartbeat. Aravis beats once a
// second, so a camera that lost sight of us (a restart, a network fault) has dropped our
// control within 2 s and Aravis reports the control lost at its next beat.
constexpr gint64 heartbeatTimeoutMilliseconds = 2000;
// The bootstrap register behind GevHeartbeatTimeout, for cameras whose description lacks
// the feature.
constexpr guint64 heartbeatTimeoutRegister = 0x0938;

// A camera whose frames stop for this long (and at least ten frame times) shows no clock.
constexpr gint64 quietMinimumMicroseconds = 1000000;
// A quiet GigE Vision camera is asked whether it is still there at most this often, with
// this many reads of this wait each: one that does not answer is gone within about 2 s of
// its last frame, where Aravis's own control reads retry for about 5 s.
constexpr gint64 probeIntervalMicroseconds = 500000;
constexpr int probeAttempts = 3;
constexpr gint64 probeWaitMicroseconds = 200000;

std::string text(const char* s)
{
    return s ? std::string(s) : std::string();
}

// The message of an Aravis error, which is then freed.
std::string take(GError*& error)
{
    std::string message = error && error->message ? error->message : "unknown error";
    g_clear_error(&error);
    return message;
}

// The pixel format for a frame format, when a camera offers it.
const char* pixelFormatFor(const FrameFormat& format)
{
    if (!format.gray)
        return format.bitsPerPixel == 8 ? "RGB8" : nullptr;
    switch (format.bitsPerPixel) {
    case 8:
        return "Mono8";
    case 10:
        return "Mono10";
    case 12:
        return "Mono12";
    case 16:
        return "Mono16";
    default:
        return nullptr;
    }
}

} // namespace

struct CameraSource::D
{
    Settings settings; // set once at construction
    int ringCapacity = 16;

    // Acquisition thread, or the steering thread while nothing is acquired.
    ArvCamera* camera = nullptr;
    ArvStream* stream = nullptr;
    gulong lostHandler = 0;
    std::size_t streamPayload = 0;
    ArvBuffer* pending = nullptr; // announced by waitForFrame, not yet delivered
    PixelFormatConverter converter{0, 0, 0};
    std::uint64_t underrunsBefore = 0; // of streams that have gone

    // Guards error, openId, current and pixelFormatName: read from any thread.
    mutable std::mutex stateMutex;
    std::string error;
    std::string openId;
    FrameFormat current;
    std::string pixelFormatName;

    std::atomic<bool> opened{false};
    std::atomic<bool> usable{false};
    std::atomic<bool> lost{false}; // set by Aravis's heartbeat thread
    std::atomic<bool> running{false};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> triggered{false};
    std::atomic<std::uint64_t> incomplete{0};
    std::atomic<std::uint64_t> refused{0};
    std::atomic<std::uint64_t> underruns{0};
    // Monotonic microseconds of the last buffer from the stream (or of the start), and how
    // long the stream may stay quiet while the clock still counts as present.
    std::atomic<gint64> lastArrival{0};
    std::atomic<gint64> quietLimit{quietMinimumMicroseconds};
    gint64 lastProbe = 0; // acquisition thread

    // GigE Vision only: false when the camera leaves a register read unanswered, asked
    // from a socket of our own with short waits. Any acknowledgement counts, also one that
    // denies access: the camera is there. Acquisition thread.
    bool answersControl()
    {
        ArvDevice* device = camera ? arv_camera_get_device(camera) : nullptr;
        if (!device || !ARV_IS_GV_DEVICE(device))
            return true;
        GSocketAddress* address = arv_gv_device_get_device_address(ARV_GV_DEVICE(device));
        if (!address)
            return true;
        GError* e = nullptr;
        GSocket* socket = g_socket_new(g_socket_address_get_family(address), G_SOCKET_TYPE_DATAGRAM,
                                       G_SOCKET_PROTOCOL_UDP, &e);
        if (!socket) {
            g_clear_error(&e);
            return true; // cannot ask: leave it to Aravis
        }
        bool answered = false;
        for (int attempt = 0; attempt < probeAttempts && !answered; ++attempt) {
            const guint16 id = guint16(0x7e00 + attempt);
            // A read of register 0 (the protocol version), acknowledgement requested.
            const guint8 request[12] = {0x42, 0x01, 0x00, 0x80, 0x00, 0x04, guint8(id >> 8), guint8(id & 0xff),
                                        0x00, 0x00, 0x00, 0x00};
            if (g_socket_send_to(socket, address, reinterpret_cast<const gchar*>(request), sizeof request, nullptr,
                                 &e)
                < 0) {
                g_clear_error(&e);
                continue;
            }
            const gint64 deadline = g_get_monotonic_time() + probeWaitMicroseconds;
            for (;;) {
                const gint64 left = deadline - g_get_monotonic_time();
                if (left <= 0 || !g_socket_condition_timed_wait(socket, G_IO_IN, left, nullptr, &e)) {
                    g_clear_error(&e);
                    break;
                }
                guint8 reply[64];
                const gssize n = g_socket_receive(socket, reinterpret_cast<gchar*>(reply), sizeof reply, nullptr, &e);
                if (n < 0) {
                    g_clear_error(&e);
                    break;
                }
                // The read's acknowledgement (0x0081) for this request; a late one of an
                // earlier attempt is as good.
                if (n >= 8 && reply[2] == 0x00 && reply[3] == 0x81 && reply[6] == 0x7e) {
                    answered = true;
                    break;
                }
            }
        }
        g_object_unref(socket);
        return answered;
    }

    void setError(const std::string& message)
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        error = message;
    }

    // Aravis's heartbeat thread: the camera no longer answers.
    static void controlLost(ArvDevice*, gpointer self)
    {
        D* d = static_cast<D*>(self);
        d->lost = true;
        d->setError("the camera " + d->cameraId() + " was lost");
    }

    std::string cameraId() const
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        return settings.id.empty() ? openId : settings.id;
    }

    // Reads the camera's region and pixel format into the converter.
    void readFormat()
    {
        GError* e = nullptr;
        gint x = 0, y = 0, width = 0, height = 0;
        arv_camera_get_region(camera, &x, &y, &width, &height, &e);
        if (e) {
            // A camera that does not answer is not asked again: each read waits it out.
            setError("camera " + cameraId() + " does not answer: cannot read the image size: " + take(e));
            usable = false;
            return;
        }
        const ArvPixelFormat code = arv_camera_get_pixel_format(camera, &e);
        if (e) {
            setError("camera " + cameraId() + " does not answer: cannot read the pixel format: " + take(e));
            usable = false;
            return;
        }
        // The camera's own name of its format, where it has one.
        const std::string cameraName = text(arv_camera_get_pixel_format_as_string(camera, nullptr));
        converter = PixelFormatConverter(code, width, height);
        std::lock_guard<std::mutex> lock(stateMutex);
        current = converter.frameFormat();
        pixelFormatName = cameraName.empty() ? PixelFormatConverter::name(code) : cameraName;
        usable = converter.isSupported() && width > 0 && height > 0;
        if (!converter.isSupported())
            error = "camera " + (settings.id.empty() ? openId : settings.id) + ": " + pixelFormatName + ": "
                    + converter.error();
        else if (!usable)
            error = "camera " + (settings.id.empty() ? openId : settings.id) + " reports an image of "
                    + std::to_string(width) + "x" + std::to_string(height);
    }

    // GigE Vision only: the camera's side of the heartbeat (see heartbeatTimeoutMilliseconds).
    void shortenHeartbeat()
    {
        ArvDevice* device = arv_camera_get_device(camera);
        if (!ARV_IS_GV_DEVICE(device))
            return;
        GError* e = nullptr;
        arv_device_set_integer_feature_value(device, "GevHeartbeatTimeout", heartbeatTimeoutMilliseconds, &e);
        if (!e)
            return;
        g_clear_error(&e);
        arv_device_write_register(device, heartbeatTimeoutRegister, guint32(heartbeatTimeoutMilliseconds), &e);
        g_clear_error(&e); // a camera that refuses keeps its own timeout
    }

    bool open()
    {
        GError* e = nullptr;
        camera = arv_camera_new(settings.id.empty() ? nullptr : settings.id.c_str(), &e);
        if (!camera) {
            setError("cannot open the camera " + (settings.id.empty() ? std::string("(first found)") : settings.id)
                     + ": " + take(e));
            usable = false;
            return false;
        }
        lost = false;
        opened = true;
        lostHandler = g_signal_connect(arv_camera_get_device(camera), "control-lost",
                                       G_CALLBACK(&D::controlLost), this);
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            openId = text(arv_camera_get_device_id(camera, nullptr));
            error.clear();
        }
        shortenHeartbeat();
        if (!settings.pixelFormat.empty()) {
            arv_camera_set_pixel_format_from_string(camera, settings.pixelFormat.c_str(), &e);
            if (e) {
                setError("cannot set the pixel format " + settings.pixelFormat + ": " + take(e));
                close();
                return false;
            }
        }
        if (settings.width > 0 && settings.height > 0) {
            arv_camera_set_region(camera, 0, 0, settings.width, settings.height, &e);
            if (e) {
                setError("cannot set the image size: " + take(e));
                close();
                return false;
            }
        }
        if (settings.framesPerSecond > 0) {
            arv_camera_set_frame_rate(camera, settings.framesPerSecond, &e);
            if (e)
                setError("cannot set the frame rate: " + take(e)); // the camera's own rate stays
        }
        arv_camera_set_acquisition_mode(camera, ARV_ACQUISITION_MODE_CONTINUOUS, &e);
        if (e)
            g_clear_error(&e); // some cameras know only this mode and lack the feature
        readFormat();
        return usable;
    }

    void dropStream()
    {
        if (pending) {
            g_object_unref(pending);
            pending = nullptr;
        }
        if (stream) {
            guint64 completed = 0, failures = 0, under = 0;
            arv_stream_get_statistics(stream, &completed, &failures, &under);
            underrunsBefore += under;
            g_object_unref(stream);
            stream = nullptr;
        }
        streamPayload = 0;
    }

    // Steering or acquisition thread (whichever closes the camera); one camera at a time
    // is let go, the one before is waited for first.
    std::thread retiring;
    void retire(ArvCamera* gone)
    {
        if (retiring.joinable())
            retiring.join();
        retiring = std::thread([gone] { g_object_unref(gone); });
    }
    ~D()
    {
        if (retiring.joinable())
            retiring.join();
    }

    void close()
    {
        dropStream();
        if (camera) {
            if (lostHandler)
                g_signal_handler_disconnect(arv_camera_get_device(camera), lostHandler);
            lostHandler = 0;
            // The device joins its heartbeat thread as it goes, so no callback follows. That
            // thread may still be retrying a camera that is gone, for seconds: such a camera
            // is let go on a thread of its own, so that the acquisition ends now.
            if (lost)
                retire(camera);
            else
                g_object_unref(camera);
            camera = nullptr;
        }
        opened = false;
        usable = false;
    }

    // A stream with one buffer per ring slot, all queued; buffers left over from an
    // earlier run are queued again.
    bool prepareStream()
    {
        GError* e = nullptr;
        const std::size_t payload = arv_camera_get_payload(camera, &e);
        if (e) {
            setError("cannot read the payload size: " + take(e));
            return false;
        }
        if (stream && payload != streamPayload)
            dropStream();
        if (!stream) {
            stream = arv_camera_create_stream(camera, nullptr, nullptr, &e);
            if (!stream) {
                setError("cannot open the camera's stream: " + take(e));
                return false;
            }
            streamPayload = payload;
            for (int i = 0; i < std::max(ringCapacity, 2); ++i) {
                // Tried rather than forced: a camera left at a huge size must not end the host.
                void* data = g_try_malloc(payload);
                if (!data) {
                    setError("not enough memory for the camera's stream: " + std::to_string(std::max(ringCapacity, 2))
                             + " buffers of " + std::to_string(payload) + " bytes");
                    dropStream();
                    return false;
                }
                arv_stream_push_buffer(stream, arv_buffer_new_full(payload, data, data, g_free));
            }
            return true;
        }
        if (pending) {
            arv_stream_push_buffer(stream, pending);
            pending = nullptr;
        }
        while (ArvBuffer* old = arv_stream_try_pop_buffer(stream))
            arv_stream_push_buffer(stream, old);
        return true;
    }

    void countUnderruns()
    {
        guint64 completed = 0, failures = 0, under = 0;
        arv_stream_get_statistics(stream, &completed, &failures, &under);
        underruns = underrunsBefore + under;
    }

    // Bytes from one image line to the next: the camera may pad its lines.
    std::size_t strideOf(ArvBuffer* buffer) const
    {
        gint xPadding = 0, yPadding = 0;
        arv_buffer_get_image_padding(buffer, &xPadding, &yPadding);
        return converter.lineBytes() + static_cast<std::size_t>(std::max(xPadding, 0));
    }

    // The buffer holds a whole image of the announced format.
    bool acceptable(ArvBuffer* buffer)
    {
        if (arv_buffer_get_status(buffer) != ARV_BUFFER_STATUS_SUCCESS) {
            ++incomplete;
            return false;
        }
        const FrameFormat format = converter.frameFormat();
        const std::uint32_t code = arv_buffer_get_image_pixel_format(buffer);
        std::size_t size = 0;
        const void* data = arv_buffer_get_data(buffer, &size);
        const std::size_t stride = strideOf(buffer);
        if (code != converter.pixelFormat() || arv_buffer_get_image_width(buffer) != format.width
            || arv_buffer_get_image_height(buffer) != format.height || !data
            || size < converter.imageBytes(stride)) {
            ++refused;
            setError("a frame of " + PixelFormatConverter::name(code) + " "
                     + std::to_string(arv_buffer_get_image_width(buffer)) + "x"
                     + std::to_string(arv_buffer_get_image_height(buffer)) + " (" + std::to_string(size)
                     + " bytes) was refused: the camera was set up for "
                     + PixelFormatConverter::name(converter.pixelFormat()) + " "
                     + std::to_string(format.width) + "x" + std::to_string(format.height));
            return false;
        }
        return true;
    }
};

std::vector<CameraSource::Camera> CameraSource::listCameras()
{
    arv_update_device_list();
    std::vector<Camera> cameras;
    for (unsigned i = 0, n = arv_get_n_devices(); i < n; ++i) {
        Camera camera;
        camera.id = text(arv_get_device_id(i));
        camera.vendor = text(arv_get_device_vendor(i));
        camera.model = text(arv_get_device_model(i));
        camera.serial = text(arv_get_device_serial_nbr(i));
        camera.protocol = text(arv_get_device_protocol(i));
        camera.address = text(arv_get_device_address(i));
        cameras.push_back(camera);
    }
    return cameras;
}

void CameraSource::enableFakeCamera()
{
    arv_enable_interface("Fake");
}

CameraSource::CameraSource(const Settings& settings)
    : d(new D)
{
    d->settings = settings;
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
    std::lock_guard<std::mutex> lock(d->stateMutex);
    return d->error;
}

std::string CameraSource::cameraId() const
{
    return d->cameraId();
}

std::string CameraSource::pixelFormatName() const
{
    std::lock_guard<std::mutex> lock(d->stateMutex);
    return d->pixelFormatName;
}

FrameFormat CameraSource::format() const
{
    std::lock_guard<std::mutex> lock(d->stateMutex);
    return d->current;
}

bool CameraSource::setFormat(const FrameFormat& format)
{
    if (format == this->format())
        return true;
    const char* pixelFormat = pixelFormatFor(format);
    if (!d->camera || d->lost || !pixelFormat || format.width <= 0 || format.height <= 0)
        return false;
    // Tried on the camera; what it does not take exactly is undone.
    const FrameFormat before = this->format();
    const std::string beforeName = pixelFormatName();
    GError* e = nullptr;
    arv_camera_set_pixel_format_from_string(d->camera, pixelFormat, &e);
    if (!e)
        arv_camera_set_region(d->camera, 0, 0, format.width, format.height, &e);
    const bool ok = !e;
    if (e)
        d->setError("cannot set " + std::string(pixelFormat) + " " + std::to_string(format.width) + "x"
                    + std::to_string(format.height) + ": " + take(e));
    d->readFormat();
    if (ok && this->format() == format)
        return true;
    arv_camera_set_pixel_format_from_string(d->camera, beforeName.c_str(), nullptr);
    arv_camera_set_region(d->camera, 0, 0, before.width, before.height, nullptr);
    d->readFormat();
    return false;
}

FrameSource::Status CameraSource::status() const
{
    Status status;
    status.connected = d->opened && !d->lost;
    // A camera whose frames have stopped shows no clock, long before its heartbeat fails;
    // a triggered one may wait for its trigger as long as it likes.
    status.clock = status.connected && d->running
                   && (d->triggered || g_get_monotonic_time() - d->lastArrival < d->quietLimit);
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
    if (target) {
        std::size_t size = 0;
        const auto* data = static_cast<const std::uint8_t*>(arv_buffer_get_data(buffer, &size));
        if (!d->converter.convert(data, size, d->strideOf(buffer), *target)) {
            // The scene's buffers are of another format: nothing garbled is shown.
            ++d->refused;
            arv_stream_push_buffer(d->stream, buffer);
            return Delivery::Cancelled;
        }
        const FrameFormat format = d->converter.frameFormat();
        target->setLastValidPixel(format.width - 1, format.height - 1);
        target->setTransferLength(size);
        std::uint64_t nanoseconds = arv_buffer_get_timestamp(buffer);
        if (nanoseconds == 0)
            nanoseconds = arv_buffer_get_system_timestamp(buffer);
        target->setTimestamp(nanoseconds / 1000);
        target->setTag(static_cast<std::uint32_t>(arv_buffer_get_frame_id(buffer)));
        target->setFlags(0);
    }
    // Straight back to the stream, whether the frame was taken or dropped.
    arv_stream_push_buffer(d->stream, buffer);
    if (progress)
        progress(d->converter.frameFormat().height);
    return Delivery::Frame;
}

namespace {

// Aravis checks a value against the feature's bounds only when asked to; the policy the
// camera had is back once the value is set.
class RangeChecked
{
public:
    explicit RangeChecked(ArvCamera* camera)
        : genicam(arv_device_get_genicam(arv_camera_get_device(camera)))
        , before(genicam ? arv_gc_get_range_check_policy(genicam) : ARV_RANGE_CHECK_POLICY_DEFAULT)
    {
        if (genicam)
            arv_gc_set_range_check_policy(genicam, ARV_RANGE_CHECK_POLICY_ENABLE);
    }
    ~RangeChecked()
    {
        if (genicam)
            arv_gc_set_range_check_policy(genicam, before);
    }
    RangeChecked(const RangeChecked&) = delete;
    RangeChecked& operator=(const RangeChecked&) = delete;

private:
    ArvGc* genicam;
    ArvRangeCheckPolicy before;
};

bool fail(std::string* reason, const std::string& message)
{
    if (reason)
        *reason = message;
    return false;
}

CameraSource::Feature floatFeature(ArvCamera* camera, gboolean (*available)(ArvCamera*, GError**),
                                   double (*get)(ArvCamera*, GError**),
                                   void (*bounds)(ArvCamera*, double*, double*, GError**))
{
    CameraSource::Feature f;
    GError* e = nullptr;
    if (!available(camera, &e) || e) {
        g_clear_error(&e);
        return f;
    }
    f.value = get(camera, &e);
    if (!e)
        bounds(camera, &f.minimum, &f.maximum, &e);
    f.available = !e;
    g_clear_error(&e);
    return f;
}

CameraSource::Feature intFeature(ArvCamera* camera, int value, void (*bounds)(ArvCamera*, gint*, gint*, GError**))
{
    CameraSource::Feature f;
    gint minimum = 0, maximum = 0;
    GError* e = nullptr;
    bounds(camera, &minimum, &maximum, &e);
    f.available = !e;
    g_clear_error(&e);
    f.value = value;
    f.minimum = minimum;
    f.maximum = maximum;
    return f;
}

bool setChecked(ArvCamera* camera, void (*set)(ArvCamera*, double, GError**), double value, std::string* reason)
{
    RangeChecked checked(camera);
    GError* e = nullptr;
    set(camera, value, &e);
    return !e || fail(reason, take(e));
}

} // namespace

CameraSource::Features CameraSource::features() const
{
    Features f;
    ArvCamera* camera = d->camera;
    if (!camera || d->lost)
        return f;
    f.exposureTime = floatFeature(camera, arv_camera_is_exposure_time_available, arv_camera_get_exposure_time,
                                  arv_camera_get_exposure_time_bounds);
    f.gain = floatFeature(camera, arv_camera_is_gain_available, arv_camera_get_gain, arv_camera_get_gain_bounds);
    f.frameRate = floatFeature(camera, arv_camera_is_frame_rate_available, arv_camera_get_frame_rate,
                               arv_camera_get_frame_rate_bounds);
    gint x = 0, y = 0, width = 0, height = 0;
    GError* e = nullptr;
    arv_camera_get_region(camera, &x, &y, &width, &height, &e);
    if (e) {
        g_clear_error(&e);
    } else {
        f.width = intFeature(camera, width, arv_camera_get_width_bounds);
        f.height = intFeature(camera, height, arv_camera_get_height_bounds);
        if (arv_camera_is_region_offset_available(camera, nullptr)) {
            f.offsetX = intFeature(camera, x, arv_camera_get_x_offset_bounds);
            f.offsetY = intFeature(camera, y, arv_camera_get_y_offset_bounds);
        }
    }
    // The camera's word rather than what the source last read.
    f.pixelFormat = text(arv_camera_get_pixel_format_as_string(camera, nullptr));
    if (f.pixelFormat.empty())
        f.pixelFormat = pixelFormatName();
    // Codes and names come from the same enumeration, entry by entry.
    guint codeCount = 0, nameCount = 0;
    gint64* codes = arv_camera_dup_available_pixel_formats(camera, &codeCount, nullptr);
    const char** names = arv_camera_dup_available_pixel_formats_as_strings(camera, &nameCount, nullptr);
    if (codes && names && codeCount == nameCount) {
        for (guint i = 0; i < codeCount; ++i) {
            if (names[i] && PixelFormatConverter(std::uint32_t(codes[i]), 1, 1).isSupported())
                f.pixelFormats.push_back(names[i]);
        }
    }
    g_free(codes);
    g_free(names);
    return f;
}

bool CameraSource::setExposureTime(double microseconds, std::string* reason)
{
    if (!d->camera || d->lost)
        return fail(reason, "the camera is not open");
    return setChecked(d->camera, arv_camera_set_exposure_time, microseconds, reason);
}

bool CameraSource::setGain(double gain, std::string* reason)
{
    if (!d->camera || d->lost)
        return fail(reason, "the camera is not open");
    return setChecked(d->camera, arv_camera_set_gain, gain, reason);
}

bool CameraSource::setFrameRate(double framesPerSecond, std::string* reason)
{
    if (!d->camera || d->lost)
        return fail(reason, "the camera is not open");
    // Aravis clamps a rate into the bounds itself, so a rate the camera cannot run at is
    // refused here.
    double minimum = 0, maximum = 0;
    GError* e = nullptr;
    arv_camera_get_frame_rate_bounds(d->camera, &minimum, &maximum, &e);
    if (e)
        return fail(reason, take(e));
    if (framesPerSecond < minimum || framesPerSecond > maximum) {
        gchar* message = g_strdup_printf("the frame rate %g is outside the camera's bounds %g .. %g",
                                         framesPerSecond, minimum, maximum);
        fail(reason, message);
        g_free(message);
        return false;
    }
    return setChecked(d->camera, arv_camera_set_frame_rate, framesPerSecond, reason);
}

bool CameraSource::setImageFormat(const std::string& pixelFormat, int x, int y, int width, int height,
                                  std::string* reason)
{
    if (!d->camera || d->lost)
        return fail(reason, "the camera is not open");
    gint oldX = 0, oldY = 0, oldWidth = 0, oldHeight = 0;
    arv_camera_get_region(d->camera, &oldX, &oldY, &oldWidth, &oldHeight, nullptr);
    const std::string oldPixelFormat = pixelFormatName();
    std::string problem;
    {
        RangeChecked checked(d->camera);
        GError* e = nullptr;
        if (pixelFormat != oldPixelFormat)
            arv_camera_set_pixel_format_from_string(d->camera, pixelFormat.c_str(), &e);
        if (!e)
            arv_camera_set_region(d->camera, x, y, width, height, &e);
        if (e)
            problem = take(e);
    }
    if (problem.empty()) {
        d->readFormat();
        if (d->usable)
            return true;
        problem = lastError();
    }
    // A refusal may come half way, after the pixel format or the width was taken.
    arv_camera_set_pixel_format_from_string(d->camera, oldPixelFormat.c_str(), nullptr);
    arv_camera_set_region(d->camera, oldX, oldY, oldWidth, oldHeight, nullptr);
    d->readFormat();
    return fail(reason, problem);
}

} // namespace core
} // namespace vexo
