#include "vexo-camera/CameraSourcePrivate.h"

#include <algorithm>

namespace vexo {
namespace core {

using camera_source::take;

void CameraSource::D::dropStream()
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

// A stream with one buffer per ring slot, all queued; buffers left over from an
// earlier run are queued again.
bool CameraSource::D::prepareStream()
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

void CameraSource::D::countUnderruns()
{
    guint64 completed = 0, failures = 0, under = 0;
    arv_stream_get_statistics(stream, &completed, &failures, &under);
    underruns = underrunsBefore + under;
}

// Bytes from one image line to the next: the camera may pad its lines.
std::size_t CameraSource::D::strideOf(ArvBuffer* buffer) const
{
    gint xPadding = 0, yPadding = 0;
    arv_buffer_get_image_padding(buffer, &xPadding, &yPadding);
    return converter.lineBytes() + static_cast<std::size_t>(std::max(xPadding, 0));
}

// The buffer holds a whole image of the announced format.
bool CameraSource::D::acceptable(ArvBuffer* buffer)
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
        || arv_buffer_get_image_height(buffer) != format.height || !data || size < converter.imageBytes(stride)) {
        ++refused;
        setError(
            "a frame of " + PixelFormatConverter::name(code) + " " + std::to_string(arv_buffer_get_image_width(buffer))
            + "x" + std::to_string(arv_buffer_get_image_height(buffer)) + " (" + std::to_string(size)
            + " bytes) was refused: the camera was set up for " + PixelFormatConverter::name(converter.pixelFormat())
            + " " + std::to_string(format.width) + "x" + std::to_string(format.height));
        return false;
    }
    return true;
}

} // namespace core
} // namespace vexo
