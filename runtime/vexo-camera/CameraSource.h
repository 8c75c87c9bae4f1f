#pragma once

#include "vexo-lib-display/FrameSource.h"

#include <memory>
#include <string>
#include <vector>

namespace vexo {
namespace core {

// Frames from a GenICam camera (GigE Vision or USB3 Vision) through Aravis.
//
// The camera's images stream into buffers of Aravis's stream, as many as the scene's ring
// holds. A frame the scene takes is converted straight from that buffer into its ring
// slot (PixelFormatConverter); a frame the scene has no room for is not touched, its
// buffer goes back to the stream at once. Incomplete transfers, frames the camera had no
// buffer for and frames of an unexpected format are counted in Status::framesLost and
// never shown.
//
// A camera that disappears (its control channel is lost) ends the acquisition: the next
// wait returns Failed and the status reads disconnected. The next start() opens the
// camera again by the same id, and refuses, with the reason in lastError(), when it cannot.
// A GigE Vision camera is told to give up a silent host within 2 s. A camera whose frames
// stop shows no clock once ten frame times (at least a second) have passed.
//
// Threads: start(), stop(), waitForFrame() and deliverFrame() run on the scene's
// acquisition thread; setFormat() and setRingCapacity() on the steering thread while
// nothing is acquired; status(), cancel(), lastError() on any thread. Aravis calls back
// from its own threads only to report the lost control channel.
class CameraSource : public FrameSource
{
public:
    struct Settings
    {
        std::string id; // Aravis device id; empty: the first camera found
        std::string pixelFormat; // a PFNC name to set ("Mono8"); empty: the camera's own
        int width = 0; // region to set from the top left corner; 0: the camera's
        int height = 0;
        double framesPerSecond = 0; // 0: the camera's rate
    };

    struct Camera
    {
        std::string id;
        std::string vendor;
        std::string model;
        std::string serial;
        std::string protocol;
        std::string address;
    };

    // The cameras Aravis finds now.
    static std::vector<Camera> listCameras();
    // Adds Aravis's in-process fake camera ("Fake_1") to the cameras found.
    static void enableFakeCamera();

    explicit CameraSource(const Settings& settings);
    ~CameraSource() override;

    // True when the camera is open and sends a format this source can show.
    bool isUsable() const;
    // What went wrong last (opening, the format, a lost camera); empty when nothing did.
    std::string lastError() const;
    // The id of the open camera, or the one asked for.
    std::string cameraId() const;
    // The camera's PFNC name of its pixel format.
    std::string pixelFormatName() const;

    FrameFormat format() const override;
    bool setFormat(const FrameFormat& format) override;
    Status status() const override;
    void setRingCapacity(int capacity) override;
    bool start() override;
    // lastError(), read by the scene when start() refuses.
    std::string problem() const override;
    void stop() override;
    void cancel() override;
    Delivery waitForFrame() override;
    Delivery deliverFrame(FrameBuffer* target, const Progress& progress) override;

    // The camera's settings a host offers between acquisitions. Like setFormat(), these
    // run on the steering thread while nothing is acquired.
    struct Feature
    {
        bool available = false; // the camera has the feature
        double value = 0;
        double minimum = 0;
        double maximum = 0;
    };
    struct Features
    {
        Feature exposureTime; // microseconds
        Feature gain;
        Feature frameRate; // frames per second
        Feature width;
        Feature height;
        Feature offsetX; // unavailable when the camera has no region offset
        Feature offsetY;
        std::string pixelFormat;
        std::vector<std::string> pixelFormats; // the camera's entries this source can show
    };
    // Nothing available while the camera is not open.
    Features features() const;
    // False with the camera's reason when it refuses the value; it keeps its own then.
    // Values outside the camera's bounds are refused rather than clamped.
    bool setExposureTime(double microseconds, std::string* reason);
    bool setGain(double gain, std::string* reason);
    bool setFrameRate(double framesPerSecond, std::string* reason);
    // Pixel format and region together, so that a refusal undoes both. format() changes:
    // the scene's ring has to be made anew for it (DisplayScene::setFormat(format())).
    bool setImageFormat(const std::string& pixelFormat, int x, int y, int width, int height, std::string* reason);

private:
    struct D;
    std::unique_ptr<D> d;
};

} // namespace core
} // namespace vexo
