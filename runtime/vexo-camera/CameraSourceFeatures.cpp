#include "vexo-camera/CameraSourcePrivate.h"

namespace vexo {
namespace core {

using camera_source::take;
using camera_source::text;

namespace {

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
        gchar* message = g_strdup_printf("the frame rate %g is outside the camera's bounds %g .. %g", framesPerSecond,
                                         minimum, maximum);
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
