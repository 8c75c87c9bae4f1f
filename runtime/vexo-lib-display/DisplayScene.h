#pragma once

#include "vexo-lib-display/SceneCall.h"

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <shared_mutex>

namespace vexo {
namespace core {

class DisplaySceneFrame;
class DisplaySceneVisualizer;
class FrameBufferGroup;

// An acquisition scene: owns the frame buffers of one channel, takes the view parameters
// of its visualizer and calls the visualizer back.
//
// Threads: the steering calls come from the GUI thread; isGrabbing(), width() and
// height() may be called from any thread. Callbacks reach the visualizer through
// withVisualizer(), which detachVisualizer() waits for.
class DisplayScene : public boost::enable_shared_from_this<DisplayScene>
{
public:
    struct Format
    {
        int width = 0;
        int height = 0;
        int bitsPerPixel = 8;
        bool gray = true;
    };

    static constexpr int defaultBufferCount = 16;

    static boost::shared_ptr<DisplayScene> create(const Format& format,
                                                  int bufferCount = defaultBufferCount);
    ~DisplayScene();

    DisplayScene(const DisplayScene&) = delete;
    DisplayScene& operator=(const DisplayScene&) = delete;

    // GUI thread. Replaces any attached visualizer, then calls its notifySceneAttached().
    void attachVisualizer(DisplaySceneVisualizer* visualizer);
    // Any thread but a callback's own. When it returns, no callback is running on the
    // visualizer and none will reach it. Does nothing unless that visualizer is attached.
    void detachVisualizer(DisplaySceneVisualizer* visualizer);
    DisplaySceneVisualizer* visualizer() const;

    // Runs f with the attached visualizer while holding off detachment; false when none
    // is attached. This is how every callback is delivered, from any thread.
    bool withVisualizer(const std::function<void(DisplaySceneVisualizer&)>& f) const;

    // -1 infinite, 0 one sequence, 1 one frame.
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
    void setBuffer(int number);
    int getValidBufferCount() const;
    void enableZoomGrid(bool enabled);
    void invalidateScene();
    void timerInterrupt();

    // A frame handed back by the visualizer (DisplaySceneVisualizer::freeSceneFrame).
    void recycleFrame(boost::shared_ptr<DisplaySceneFrame> frame);

    boost::shared_ptr<FrameBufferGroup> frameBufferGroup() const;

    // Reports every call above (and frames handed back) to an observer, on the caller's
    // thread. For hosts that log and for tests.
    void setCallObserver(std::function<void(const SceneCall&)> observer);
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
    DisplayScene(const Format& format, int bufferCount);
    void report(SceneCall::Operation operation, std::int64_t a = 0, std::int64_t b = 0,
                std::int64_t c = 0) const;
    void setGrabbing(bool grabbing);

    const Format format;
    boost::shared_ptr<FrameBufferGroup> buffers;

    // Shared by every callback delivery, exclusive while attaching or detaching; guards
    // attached.
    mutable std::shared_mutex visualizerLock;
    DisplaySceneVisualizer* attached = nullptr;

    // Guards viewState; GUI thread writes, any thread reads.
    mutable std::mutex viewMutex;
    View viewState;

    // Guards callObserver; the observer itself runs outside the lock.
    mutable std::mutex observerMutex;
    std::function<void(const SceneCall&)> callObserver;

    std::atomic<bool> grabbing{false};
    std::atomic<std::uint64_t> recycledFrames{0};
};

} // namespace core
} // namespace vexo
