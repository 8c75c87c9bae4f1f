#pragma once

// The state of a CameraSource, shared by its source files: the device and its settings
// (CameraSourceDevice.cpp), the stream of buffers (CameraSourceStream.cpp), the features
// a host sets (CameraSourceFeatures.cpp) and the acquisition (CameraSource.cpp).

#include "vexo-camera/CameraSource.h"
#include "vexo-camera/PixelFormatConverter.h"
#include "vexo-core/Mutex.h"

#include <arv.h>

#include <atomic>
#include <string>
#include <thread>

namespace vexo {
namespace core {

namespace camera_source {

// How long one wait for a buffer lasts before cancel and loss are looked at again.
constexpr guint64 popTimeoutMicroseconds = 20000;
// A camera whose frames stop for this long (and at least ten frame times) shows no clock.
constexpr gint64 quietMinimumMicroseconds = 1000000;
// A quiet GigE Vision camera is asked whether it is still there at most this often.
constexpr gint64 probeIntervalMicroseconds = 500000;

inline std::string text(const char* s)
{
    return s ? std::string(s) : std::string();
}

// The message of an Aravis error, which is then freed.
inline std::string take(GError*& error)
{
    std::string message = error && error->message ? error->message : "unknown error";
    g_clear_error(&error);
    return message;
}

} // namespace camera_source

struct CameraSource::D
{
    explicit D(const Settings& settings)
        : settings(settings)
    {
    }
    ~D();

    const Settings settings;
    int ringCapacity = 16; // steering thread, while nothing is acquired

    // Acquisition thread, or the steering thread while nothing is acquired: never both at
    // once, so these need no lock.
    ArvCamera* camera = nullptr;
    ArvStream* stream = nullptr;
    gulong lostHandler = 0;
    std::size_t streamPayload = 0;
    ArvBuffer* pending = nullptr; // announced by waitForFrame, not yet delivered
    PixelFormatConverter converter{0, 0, 0};
    std::uint64_t underrunsBefore = 0; // of streams that have gone
    gint64 lastProbe = 0;
    // Whichever thread closes the camera: one camera at a time is let go, the one before
    // is waited for first.
    std::thread retiring;

    // Guards what status readers on any thread see of the camera: the last error, the id
    // of the open camera and its format.
    mutable Mutex stateMutex;
    std::string error VEXO_GUARDED_BY(stateMutex);
    std::string openId VEXO_GUARDED_BY(stateMutex);
    FrameFormat current VEXO_GUARDED_BY(stateMutex);
    std::string pixelFormatName VEXO_GUARDED_BY(stateMutex);

    // Read from any thread without a lock.
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
    std::atomic<gint64> quietLimit{camera_source::quietMinimumMicroseconds};

    // --- The device (CameraSourceDevice.cpp) ---
    // Any thread.
    void setError(const std::string& message) VEXO_EXCLUDES(stateMutex);
    std::string cameraId() const VEXO_EXCLUDES(stateMutex);
    // Aravis's heartbeat thread: the camera no longer answers.
    static void controlLost(ArvDevice*, gpointer self);
    // GigE Vision only: false when the camera leaves a register read unanswered.
    // Acquisition thread.
    bool answersControl();
    // Reads the camera's region and pixel format into the converter.
    void readFormat() VEXO_EXCLUDES(stateMutex);
    void shortenHeartbeat();
    bool open();
    void retire(ArvCamera* gone);
    void close();

    // --- The stream (CameraSourceStream.cpp) ---
    void dropStream();
    bool prepareStream();
    void countUnderruns();
    std::size_t strideOf(ArvBuffer* buffer) const;
    bool acceptable(ArvBuffer* buffer);
};

} // namespace core
} // namespace vexo
