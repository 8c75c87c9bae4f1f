#pragma once

// The window's private record. Internal to the library (and its tests).

#include "display/OverflowEventRecord.h"
#include "display/Qt4DisplaySceneVisualizer.h"

#include "vexo-lib-display/ZoomStep.h"

#include <QPoint>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <array>
#include <atomic>
#include <cstdint>

class QDockWidget;
class QLabel;
class QTimer;

namespace vexo {
namespace core {

class DisplaySceneFrame;
class FrameBuffer;
class Qt4LineHistogramDialog;
class Qt4LineProfileDialog;

struct Qt4DisplaySceneVisualizer::D
{
    struct BufferRingEntry
    {
        std::int64_t frameIndex = 0;
        std::uint64_t timestamp = 0;
    };
    static constexpr std::size_t bufferRingSize = 64;

    D(int board, int dma)
        : boardIndex(board)
        , dmaIndex(dma)
    {
    }

    // The form's parts the constructor adds: the status bar's lamps and labels, and the
    // two tool windows, which belong to parent. GUI thread, from the constructor.
    void buildStatusBar();
    void buildToolDocks(QWidget* parent);
    // Local settings and the three grab buttons follow grabAllowed, stop follows stopAllowed.
    void setAcquisitionButtons(bool grabAllowed, bool stopAllowed) const;
    // Both frame buffer selectors at once, without their signals.
    void setBufferSelectors(int minimum, int maximum, int step, int value) const;
    // The zoom buttons at the ends of the range, and the pixel-value switch where the text fits.
    void updateZoomButtons() const;
    // Fits the scroll bars to the zoomed image and the canvas; when a bar appears or
    // disappears the window is asked to measure its canvas again. GUI thread.
    void updateScrollBars();
    // Canvas position to image position with the geometry of the frame on screen, in
    // place. False when a pointer is null, the point lies right of or below the image, or
    // the buffer is gone; `written` tells whether the buffer has received that pixel.
    bool mapCanvasToImage(int* x, int* y, bool* written) const;
    // The zoom the frame on screen was rendered at.
    ZoomStep frameZoom() const { return ZoomStep(frameZoomValue); }

    Qt4DisplaySceneVisualizer* window = nullptr;
    int boardIndex;
    int dmaIndex;
    bool hexDisplay = true;
    bool showPixelValues = false;
    boost::weak_ptr<FrameBuffer> currentFrameBuffer;
    QPoint canvasMousePosition{-1, -1};
    int frameMinX = 0;
    int frameMinY = 0;
    int frameZoomValue = ZoomStep::unity;

    // Set by the notifying scene thread, cleared by the GUI thread when it has shown the
    // frame; not guarded by frameLock, so an atomic keeps the hand-off well defined.
    std::atomic<bool> frameEventPending{false};
    // Guards pendingFrame and pendingRenderFps. Scene threads and the GUI thread.
    std::atomic<std::int32_t> frameLock{0};
    boost::shared_ptr<DisplaySceneFrame> pendingFrame;
    double pendingRenderFps = 0;

    int sceneWidth = 0;
    int sceneHeight = 0;
    int canvasHeight = 0;
    int canvasWidth = 0;
    ZoomStep zoomStep;
    std::uint64_t renderedFrames = 0;
    double renderFps = 0;

    // Guards bufferCount and bufferRing. Scene threads write the ring; the GUI thread
    // resets the count and reads the ring.
    std::atomic<std::int32_t> bufferLock{0};
    // Written under bufferLock; the GUI thread also reads it without the lock (a value one
    // update old only shifts the first shown frame), so it is atomic.
    std::atomic<std::uint64_t> bufferCount{0};
    // GUI thread only: written there (inside bufferLock's sections, beside the count they
    // reset) and read there without it; no scene thread touches it.
    bool grabbing = false;
    int validBufferCount = 0;
    bool sourcesDetected = false;
    std::array<BufferRingEntry, bufferRingSize> bufferRing{};

    QLabel* clockLabel = nullptr;
    QLabel* fvalLabel = nullptr;
    QLabel* lvalLabel = nullptr;
    QLabel* exsyncLabel = nullptr;
    QLabel* extrgLabel = nullptr;
    QLabel* bufferFillLabel = nullptr;
    QLabel* overflowLabel = nullptr;
    QLabel* acquisitionFpsLabel = nullptr;
    QLabel* renderFpsLabel = nullptr;
    QLabel* renderTimeLabel = nullptr;

    bool closeEventSignal = false;
    bool cameraClockSignal = false;
    bool grabSignals = false;
    bool externalButtonControl = false;
    bool cameraClockOn = false;
    QTimer* eventTimer = nullptr;
    OverflowEventRecord corruptedEvents;
    OverflowEventRecord lostEvents;
    QPoint dragPosition{0, 0};
    QTimer* renderInterruptTimer = nullptr;
    bool sourcesConnected = false;

    Qt4LineProfileDialog* lineProfileDialog = nullptr;
    Qt4LineHistogramDialog* lineHistogramDialog = nullptr;
    QDockWidget* lineProfileDock = nullptr;
    QDockWidget* lineHistogramDock = nullptr;
};

} // namespace core
} // namespace vexo
