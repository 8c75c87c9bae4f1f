#include "vexo-gstreamer/GstSourcePrivate.h"

#include "vexo-core/MutexLocker.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

namespace vexo {
namespace core {

namespace gst_source {

namespace {

constexpr const char* sinkName = "vexosink";
constexpr const char* shownFormats = "{GRAY8,GRAY16_LE,RGB,BGR,RGBx,BGRx,xRGB,xBGR}";

std::string take(GError*& error)
{
    std::string message = error && error->message ? error->message : "unknown error";
    g_clear_error(&error);
    return message;
}

// A property value for a description: quoted, so that spaces and '!' stay in it.
std::string quoted(const std::string& value)
{
    std::string out = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// Offsets as constants: the compiler turns the loop into shuffles.
template <int pixelBytes, int r, int g, int b>
void copyColour(const Layout& layout, const std::uint8_t* data, int stride, FrameBuffer& target)
{
    const int width = layout.format.width;
    for (int y = 0; y < layout.format.height; ++y) {
        const std::uint8_t* in = data + static_cast<std::ptrdiff_t>(y) * stride;
        std::uint16_t* out = target.line(y);
        for (int x = 0; x < width; ++x, in += pixelBytes, out += 3) {
            out[0] = in[r];
            out[1] = in[g];
            out[2] = in[b];
        }
    }
}

} // namespace

void initialise()
{
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

bool layoutOf(GstCaps* caps, int bits, Layout* layout, std::string* why)
{
    Layout l;
    if (!caps || !gst_video_info_from_caps(&l.info, caps)) {
        *why = "the pipeline sends frames of no video format";
        return false;
    }
    const GstVideoFormat format = GST_VIDEO_INFO_FORMAT(&l.info);
    l.format.width = GST_VIDEO_INFO_WIDTH(&l.info);
    l.format.height = GST_VIDEO_INFO_HEIGHT(&l.info);
    switch (format) {
    case GST_VIDEO_FORMAT_GRAY8:
        l.format.bitsPerPixel = 8;
        break;
    case GST_VIDEO_FORMAT_GRAY16_LE:
        l.format.bitsPerPixel = std::clamp(bits, 1, 16);
        l.pixelBytes = 2;
        break;
    case GST_VIDEO_FORMAT_RGB:
    case GST_VIDEO_FORMAT_BGR:
    case GST_VIDEO_FORMAT_RGBx:
    case GST_VIDEO_FORMAT_BGRx:
    case GST_VIDEO_FORMAT_xRGB:
    case GST_VIDEO_FORMAT_xBGR:
        l.format.gray = false;
        l.format.bitsPerPixel = 8;
        break;
    default:
        *why = std::string("the pipeline sends ") + gst_video_format_to_string(format) + ", which is not shown";
        return false;
    }
    *layout = l;
    return true;
}

void copyFrame(const Layout& layout, const GstVideoFrame& frame, FrameBuffer& target)
{
    const auto* data = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    const int width = layout.format.width;
    if (!layout.format.gray) {
        switch (GST_VIDEO_INFO_FORMAT(&layout.info)) {
        case GST_VIDEO_FORMAT_RGB:
            return copyColour<3, 0, 1, 2>(layout, data, stride, target);
        case GST_VIDEO_FORMAT_BGR:
            return copyColour<3, 2, 1, 0>(layout, data, stride, target);
        case GST_VIDEO_FORMAT_RGBx:
            return copyColour<4, 0, 1, 2>(layout, data, stride, target);
        case GST_VIDEO_FORMAT_BGRx:
            return copyColour<4, 2, 1, 0>(layout, data, stride, target);
        case GST_VIDEO_FORMAT_xRGB:
            return copyColour<4, 1, 2, 3>(layout, data, stride, target);
        default: // xBGR, the last colour format layoutOf() admits
            return copyColour<4, 3, 2, 1>(layout, data, stride, target);
        }
    }
    // Values above the bits set are clamped: they would read as small ones otherwise.
    const std::uint16_t max = static_cast<std::uint16_t>((1u << layout.format.bitsPerPixel) - 1);
    for (int y = 0; y < layout.format.height; ++y) {
        const std::uint8_t* in = data + static_cast<std::ptrdiff_t>(y) * stride;
        std::uint16_t* out = target.line(y);
        if (layout.pixelBytes == 1) {
            std::copy(in, in + width, out);
            continue;
        }
        for (int x = 0; x < width; ++x)
            out[x] = std::min<std::uint16_t>(GST_READ_UINT16_LE(in + 2 * x), max);
    }
}

} // namespace gst_source

using gst_source::take;

std::string GstSource::v4l2Pipeline(const std::string& device)
{
    return "v4l2src device=" + gst_source::quoted(device);
}

std::string GstSource::mediaPipeline(const std::string& path)
{
    gst_source::initialise();
    GError* e = nullptr;
    gchar* uri = gst_filename_to_uri(path.c_str(), &e);
    // Where no absolute name can be made (no working directory), the file itself says so
    // when it is opened.
    const std::string location = uri ? std::string(uri) : "file://" + path;
    g_free(uri);
    g_clear_error(&e);
    return "uridecodebin uri=" + gst_source::quoted(location) + " ! videoconvert";
}

GstSource::D::D(const Settings& settings)
    : settings(settings)
{
}

GstSource::D::~D()
{
    close();
}

void GstSource::D::setError(const std::string& message)
{
    MutexLocker lock(stateMutex);
    error = message;
}

std::string GstSource::D::description() const
{
    // The videoconvert passes a shown format through untouched and converts any other.
    return settings.pipeline + " ! videoconvert ! appsink name=" + gst_source::sinkName
        + " caps=\"video/x-raw,format=(string)" + gst_source::shownFormats
        + "\" max-buffers=2 drop=true enable-last-sample=false sync=" + (settings.sync ? "true" : "false");
}

bool GstSource::D::open()
{
    GError* e = nullptr;
    GstElement* built = gst_parse_launch_full(description().c_str(), nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &e);
    if (!built) {
        setError("cannot make the pipeline: " + take(e));
        return false;
    }
    g_clear_error(&e);
    GstElement* sink = GST_IS_BIN(built) ? gst_bin_get_by_name(GST_BIN(built), gst_source::sinkName) : nullptr;
    if (!sink) {
        gst_object_unref(built);
        setError("cannot make the pipeline: it does not end in a sink of its own");
        return false;
    }
    {
        MutexLocker lock(queueMutex);
        made = 0;
        madeAtRewind = 0;
        ended = false;
        failure.clear();
    }
    GstAppSinkCallbacks callbacks{};
    callbacks.eos = &D::endOfStream;
    callbacks.new_sample = &D::newSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_object_unref(sink);
    GstBus* bus = gst_element_get_bus(built);
    gst_bus_set_sync_handler(bus, &D::busMessage, this, nullptr);
    gst_object_unref(bus);
    lastArrival = g_get_monotonic_time();
    MutexLocker lock(pipelineMutex);
    pipeline = built;
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE)
        return true;
    lock.unlock();
    std::string why;
    {
        MutexLocker queued(queueMutex);
        why = failure;
    }
    close();
    setError(why.empty() ? "the pipeline cannot play" : why);
    return false;
}

void GstSource::D::close()
{
    GstElement* old = nullptr;
    {
        MutexLocker lock(pipelineMutex);
        std::swap(old, pipeline);
    }
    playing = false;
    if (old) {
        // Joins the streaming threads: no callback comes after this.
        gst_element_set_state(old, GST_STATE_NULL);
        GstBus* bus = gst_element_get_bus(old);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        gst_object_unref(old);
    }
    std::deque<Queued> left;
    {
        MutexLocker lock(queueMutex);
        left.swap(queue);
    }
    for (const Queued& q : left)
        gst_sample_unref(q.sample);
    if (pending) {
        gst_sample_unref(pending);
        pending = nullptr;
    }
    if (acceptedCaps) {
        gst_caps_unref(acceptedCaps);
        acceptedCaps = nullptr;
    }
}

void GstSource::D::probe()
{
    {
        MutexLocker lock(queueMutex);
        keepFirst = true;
    }
    const bool opened = open();
    GstSample* first = nullptr;
    std::string why;
    {
        MutexLocker lock(queueMutex);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(settings.probeMilliseconds);
        while (opened && !probeFrame && !ended && failure.empty())
            if (!lock.waitUntil(arrived, deadline))
                break;
        keepFirst = false;
        std::swap(first, probeFrame);
        if (!first) {
            if (!failure.empty())
                why = failure;
            else if (ended)
                why = "the stream ended before its first frame";
            else
                why = "no frame within " + std::to_string(settings.probeMilliseconds) + " ms";
        }
    }
    if (!opened)
        return; // open() said why
    gst_source::Layout layout;
    if (first && gst_source::layoutOf(gst_sample_get_caps(first), settings.bits, &layout, &why)) {
        MutexLocker lock(stateMutex);
        this->layout = layout;
        usable = true;
    }
    if (first)
        gst_sample_unref(first);
    close();
    // The probe's frames were never to be shown: none of them counts as lost.
    dropped = 0;
    if (!usable)
        setError(why);
}

bool GstSource::D::accepts(GstSample* sample)
{
    GstCaps* caps = gst_sample_get_caps(sample);
    if (caps == acceptedCaps)
        return true;
    gst_source::Layout next;
    std::string why;
    const bool known = gst_source::layoutOf(caps, settings.bits, &next, &why);
    FrameFormat expected;
    std::string began;
    {
        MutexLocker lock(stateMutex);
        expected = layout.format;
        began = gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&layout.info));
    }
    // Another order of the colours still fits the scene's buffers.
    if (known && next.format == expected) {
        if (acceptedCaps)
            gst_caps_unref(acceptedCaps);
        acceptedCaps = gst_caps_ref(caps);
        runLayout = next;
        return true;
    }
    const auto size = [](const FrameFormat& f) { return std::to_string(f.width) + "x" + std::to_string(f.height); };
    setError(known ? std::string("a frame of ") + gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&next.info)) + " "
                     + size(next.format) + " was refused: the pipeline began with " + began + " " + size(expected)
                   : why);
    return false;
}

bool GstSource::D::rewind()
{
    {
        MutexLocker lock(queueMutex);
        // Before the seek: the end of the stream played again may come at once.
        ended = false;
        madeAtRewind = made;
    }
    MutexLocker lock(pipelineMutex);
    return pipeline
        && gst_element_seek_simple(pipeline, GST_FORMAT_TIME,
                                   static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0);
}

GstFlowReturn GstSource::D::newSample(GstAppSink* sink, gpointer self)
{
    auto* d = static_cast<D*>(self);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_OK;
    GstSample* old = nullptr;
    {
        MutexLocker lock(d->queueMutex);
        if (d->keepFirst && !d->probeFrame)
            d->probeFrame = gst_sample_ref(sample);
        d->queue.push_back({sample, d->made++});
        if (d->queue.size() > gst_source::queuedFrames) {
            old = d->queue.front().sample;
            d->queue.pop_front();
        }
    }
    d->lastArrival = g_get_monotonic_time();
    d->arrived.notify_all();
    if (old) {
        ++d->dropped;
        gst_sample_unref(old);
    }
    return GST_FLOW_OK;
}

void GstSource::D::endOfStream(GstAppSink*, gpointer self)
{
    auto* d = static_cast<D*>(self);
    {
        MutexLocker lock(d->queueMutex);
        d->ended = true;
    }
    d->arrived.notify_all();
}

GstBusSyncReply GstSource::D::busMessage(GstBus*, GstMessage* message, gpointer self)
{
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        auto* d = static_cast<D*>(self);
        GError* e = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &e, &debug);
        std::string text = std::string(GST_MESSAGE_SRC_NAME(message)) + ": " + take(e);
        if (debug && *debug)
            text += " (" + std::string(debug) + ")";
        g_free(debug);
        {
            MutexLocker lock(d->queueMutex);
            // The first error says what went wrong; those after it follow from it.
            if (d->failure.empty())
                d->failure = text;
        }
        d->arrived.notify_all();
    }
    // Nobody reads the bus: what is not handled here goes.
    return GST_BUS_DROP;
}

} // namespace core
} // namespace vexo
