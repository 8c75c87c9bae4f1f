#pragma once

#include "vexo-lib-display/DisplayLevels.h"
#include "vexo-lib-display/FrameFormat.h"
#include "vexo-lib-display/SceneCall.h"
#include "vexo-lib-display/SceneRecorder.h"

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vexo {
namespace core {

class DisplaySceneVisualizer;
class FrameBufferGroup;
class FrameSource;
class SceneEngine;

// An acquisition scene: owns the frame buffers of one channel and a frame source, acquires
// on its own thread, renders the visible part of the shown buffer into canvases on another
// and calls its visualizer back from them.
//
// Threads: the steering calls come from one thread that owns the scene (the GUI thread
// of its window); isGrabbing(), width(), height() and getValidBufferCount() may be called
// from any thread. Callbacks reach the visualizer through withVisualizer(), which
// detachVisualizer() waits for. The scene may be released on any thread, also inside a
// callback: its threads keep their shared state alive until they have ended.
class DisplayScene : public boost::enable_shared_from_this<DisplayScene>
{
public:
    using Format = FrameFormat;

    static constexpr int defaultBufferCount = 16;

    // A scene over the given source.
    //
    // A ring that cannot be held is refused, never half made, and no exception reaches
    // the caller: when its bytes exceed the memory available (SystemMemory::available())
    // or allocating it fails all the same, the scene is still made, but without buffers:
    // frameBufferGroup()->capacity() is 0, startGrabbing() does nothing and ringError()
    // says what was asked for and what is available. A ring smaller than RingSize::minimum
    // is refused the same way. A host checks ringError() after create() and setFormat().
    static boost::shared_ptr<DisplayScene> create(std::unique_ptr<FrameSource> source,
                                                  int bufferCount = defaultBufferCount);
    // A scene whose frames are pushed by the caller (a ManualFrameSource, see source()).
    static boost::shared_ptr<DisplayScene> create(const Format& format, int bufferCount = defaultBufferCount);
    ~DisplayScene();

    DisplayScene(const DisplayScene&) = delete;
    DisplayScene& operator=(const DisplayScene&) = delete;

    // Replaces any attached visualizer, then calls its notifySceneAttached() and
    // notifySourcesConnected() on the calling thread, which must be the GUI thread.
    void attachVisualizer(DisplaySceneVisualizer* visualizer);
    // Any thread but a callback's own. When it returns, no callback is running on the
    // visualizer and none will reach it. Does nothing unless that visualizer is attached.
    void detachVisualizer(DisplaySceneVisualizer* visualizer);
    DisplaySceneVisualizer* visualizer() const;

    // Runs f with the attached visualizer while holding off detachment; false when none
    // is attached. Every callback is delivered this way, from any thread.
    bool withVisualizer(const std::function<void(DisplaySceneVisualizer&)>& f) const;

    // -1 acquires until stopGrabbing(), 0 one sequence (as many frames as the ring
    // holds), 1 a single frame. Ignored while grabbing.
    void startGrabbing(int mode);
    void stopGrabbing();
    bool isGrabbing() const;
    int width() const;
    int height() const;
    void setCanvasSize(int width, int height);
    void setZoomFactor(int step);
    void setOffset(int x, int y);
    void setZoomFactorAndOffset(int step, int x, int y);
    void setVisualizerVisible(bool visible);
    // While idle, buffer 1 is the oldest stored frame and getValidBufferCount() the newest.
    void setBuffer(int number);
    int getValidBufferCount() const;
    void enableZoomGrid(bool enabled);
    void invalidateScene();
    void timerInterrupt();

    // A frame handed back by the visualizer (DisplaySceneVisualizer::freeSceneFrame).
    void recycleFrame(boost::shared_ptr<class DisplaySceneFrame> frame);

    // Changes the frame format: stops acquisition, invalidates the buffers (the
    // visualizer is told first and may block until it no longer reads them), makes new
    // ones and announces them. False when the source refuses the format. GUI thread.
    //
    // A ring of the new format that cannot fit even once the old one is released is
    // refused before anything changes: false, and the old format and ring stay. When
    // allocating it fails all the same, false with the scene left without buffers (see
    // create()); a later setFormat() that fits makes the ring again.
    bool setFormat(const Format& format);
    Format format() const;

    // Why the last ring asked for (by create() or setFormat()) was not made, in binary
    // units, e.g. "not enough memory for the frame buffers: 16 buffers x 8 MiB = 128 MiB,
    // but 100 MiB are available"; empty when it was. Any thread.
    std::string ringError() const;

    // Why the source refused the last start of grabbing (a camera that is gone or broken),
    // e.g. "cannot open the camera 127.0.0.1: ..."; empty once a start succeeded. A refused
    // start changes nothing: the stored frames stay, the visualizer hears of no grabbing,
    // and isGrabbing() turns false again. Any thread.
    std::string grabError() const;
    // Called with that reason on the acquisition thread, once per refused start, when the
    // scene is idle again. Clearing it (an empty function) waits for a call in progress;
    // the observer must not set it itself.
    void setGrabRefusedObserver(std::function<void(const std::string&)> observer);

    // Re-reads whether the source is connected and tells the visualizer. GUI thread.
    void refreshSourcesConnected();

    // Frames of at most this rate are rendered while grabbing (default 60).
    void setRenderRateLimit(double framesPerSecond);
    // Camera status is reported at every change and, besides, every `milliseconds`
    // (default 100); 0 reports changes only.
    void setStatusPeriod(int milliseconds);

    // How sample values are shown on the canvas (see DisplayLevels); re-renders when they
    // change. Readouts and saved frames keep the raw values. GUI thread.
    void setDisplayLevels(const DisplayLevels& levels);
    // Any thread.
    DisplayLevels displayLevels() const;
    // The range shown from black to white now, also for Auto (as last measured) and
    // Default (the bit depth's). Any thread.
    DisplayLevels::Range levelsInUse() const;

    FrameSource& source() const;
    boost::shared_ptr<FrameBufferGroup> frameBufferGroup() const;

    // Writes every frame stored from now on to disk, beside the display (see
    // SceneRecorder); false with a reason in *error when it cannot start. GUI thread.
    bool startRecording(const SceneRecorder::Settings& settings, std::string* error = nullptr);
    // The recorder itself: stop(), wait(), status() and, for tests, its hook.
    SceneRecorder& recorder() const;

    // Reports every call above (and frames handed back) to an observer, on the caller's
    // thread. For hosts that log and for tests.
    void setCallObserver(std::function<void(const SceneCall&)> observer);

    struct Statistics
    {
        std::uint64_t framesAcquired = 0; // stored in a buffer
        std::uint64_t framesDropped = 0; // no free buffer, or a reader held the group
        std::uint64_t framesRendered = 0;
        std::uint64_t framesRecycled = 0; // handed back by the visualizer
        std::uint64_t canvasesAllocated = 0;
    };
    Statistics statistics() const;
    std::uint64_t recycledFrameCount() const;

    // The view as last set by the visualizer.
    struct View
    {
        int canvasWidth = 0;
        int canvasHeight = 0;
        int zoomStep = 6;
        int offsetX = 0;
        int offsetY = 0;
        bool visible = false;
        bool zoomGrid = false;
        int selectedBuffer = 0;
    };
    View view() const;

private:
    DisplayScene(std::unique_ptr<FrameSource> source, int bufferCount);

    std::shared_ptr<SceneEngine> engine;
};

} // namespace core
} // namespace vexo
