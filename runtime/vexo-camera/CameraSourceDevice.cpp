#include "vexo-camera/CameraSourcePrivate.h"

#include "vexo-core/MutexLocker.h"

namespace vexo {
namespace core {

using camera_source::take;
using camera_source::text;

namespace {

// How long a GigE Vision camera keeps our control without a heartbeat. Aravis beats once a
// second, so a camera that lost sight of us (a restart, a network fault) has dropped our
// control within 2 s and Aravis reports the control lost at its next beat.
constexpr gint64 heartbeatTimeoutMilliseconds = 2000;
// The bootstrap register behind GevHeartbeatTimeout, for cameras whose description lacks
// the feature.
constexpr guint64 heartbeatTimeoutRegister = 0x0938;

// A quiet GigE Vision camera is asked with this many reads of this wait each: one that does
// not answer is gone within about 2 s of its last frame, where Aravis's own control reads
// retry for about 5 s.
constexpr int probeAttempts = 3;
constexpr gint64 probeWaitMicroseconds = 200000;

} // namespace

// Asked from a socket of our own with short waits. Any acknowledgement counts, also one
// that denies access: the camera is there.
bool CameraSource::D::answersControl()
{
    ArvDevice* device = camera ? arv_camera_get_device(camera) : nullptr;
    if (!device || !ARV_IS_GV_DEVICE(device))
        return true;
    GSocketAddress* address = arv_gv_device_get_device_address(ARV_GV_DEVICE(device));
    if (!address)
        return true;
    GError* e = nullptr;
    GSocket* socket =
        g_socket_new(g_socket_address_get_family(address), G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_UDP, &e);
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
        if (g_socket_send_to(socket, address, reinterpret_cast<const gchar*>(request), sizeof request, nullptr, &e)
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

void CameraSource::D::setError(const std::string& message)
{
    MutexLocker lock(stateMutex);
    error = message;
}

void CameraSource::D::controlLost(ArvDevice*, gpointer self)
{
    D* d = static_cast<D*>(self);
    d->lost = true;
    d->setError("the camera " + d->cameraId() + " was lost");
}

std::string CameraSource::D::cameraId() const
{
    MutexLocker lock(stateMutex);
    return settings.id.empty() ? openId : settings.id;
}

void CameraSource::D::readFormat()
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
    MutexLocker lock(stateMutex);
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
void CameraSource::D::shortenHeartbeat()
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

bool CameraSource::D::open()
{
    GError* e = nullptr;
    camera = arv_camera_new(settings.id.empty() ? nullptr : settings.id.c_str(), &e);
    if (!camera) {
        setError("cannot open the camera " + (settings.id.empty() ? std::string("(first found)") : settings.id) + ": "
                 + take(e));
        usable = false;
        return false;
    }
    lost = false;
    opened = true;
    lostHandler = g_signal_connect(arv_camera_get_device(camera), "control-lost", G_CALLBACK(&D::controlLost), this);
    {
        MutexLocker lock(stateMutex);
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

void CameraSource::D::retire(ArvCamera* gone)
{
    if (retiring.joinable())
        retiring.join();
    retiring = std::thread([gone] { g_object_unref(gone); });
}

CameraSource::D::~D()
{
    if (retiring.joinable())
        retiring.join();
}

void CameraSource::D::close()
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

} // namespace core
} // namespace vexo
