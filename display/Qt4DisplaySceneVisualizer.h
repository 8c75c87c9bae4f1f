#pragma once

#include "frame/VexoDisplayQt4Export.h"
#include "ui_DisplaySceneVisualizer.h"

#include "vexo-lib-display/DisplaySceneVisualizer.h"

#include <QMainWindow>
#include <QPoint>

#include <boost/shared_ptr.hpp>

#include <cstdint>

class QCloseEvent;
class QHideEvent;
class QImage;
class QMouseEvent;
class QPixmap;
class QResizeEvent;
class QShowEvent;
class QWheelEvent;

namespace vexo {
namespace tools {
namespace logging {
class Logger;
}
} // namespace tools

namespace core {

// The display window of one acquisition channel (board index, DMA index). It shows the
// frames its scene renders, steers the scene's view and acquisition, and carries two tool
// windows for one image line. Scene callbacks arrive on the scene's threads and are turned
// into events for the GUI thread; everything else runs on the GUI thread.
class VEXO_DISPLAY_QT4_EXPORT Qt4DisplaySceneVisualizer : public QMainWindow,
                                                          private Ui::DisplaySceneVisualizer,
                                                          public vexo::core::DisplaySceneVisualizer
{
    Q_OBJECT

public:
    // The only way to make a window; the caller owns it.
    static Qt4DisplaySceneVisualizer* create(QWidget* parent, int boardIndex, int dmaIndex);
    ~Qt4DisplaySceneVisualizer() override;

    void enableCloseEventSignal(bool enabled);
    void enableCameraClockSignal(bool enabled);
    void enableGrabSignals(bool enabled);
    void enableExternalButtonControl(bool enabled);

    // --- Status indicators ---
    bool isCameraClockOn();
    // Shows or hides the FVAL and LVAL lamps; EXSYNC and EXTRG are hidden either way.
    void showCameraLinkProperties(bool show);
    // Overflow events reported by the host; shown every 200 ms. Any thread.
    void setOverflowEventsSupport(bool supported);
    void updateOverflowEvents(bool corrupted, bool lost, unsigned int value);
    void resetEvents();

    // --- Acquisition controls, for a host that steers acquisition itself ---
    void applyDmaConnectionToControlButtons(bool sourcesDetected, bool acquisitionRunning, bool controlsLocked);
    bool hasValidBuffersOrIsAcquisitionRunning();

    // --- Scene callbacks (see DisplaySceneVisualizer for their threads) ---
    void notifySceneAttached() override;
    void notifySceneFrameChanged(boost::shared_ptr<DisplaySceneFrame> frame, double renderFps) override;
    void notifyGrabbingStarted() override;
    void notifyGrabbingStopped() override;
    void notifyBufferUpdated(boost::shared_ptr<FrameBuffer> buffer) override;
    void notifyCameraStatusUpdate(bool cameraClock, bool fval, bool lval, bool exsync, bool extrg, bool bufferOverflow,
                                  int fillLevelStep, int fillLevelPercent) override;
    void notifySourcesConnected(bool connected) override;
    void notifyFrameBuffersInvalidated() override;
    void notifyFrameBuffersAdded() override;
    void requestTimedInterrupt(boost::shared_ptr<StopWatch> stopWatch, std::uint64_t microseconds) override;

    // GUI thread, from the canvas widget: the mouse position in canvas coordinates, then
    // the move itself (panning).
    void notifyCanvasMousePosition(const QPoint& position);
    void notifyMouseMoveEvent(QMouseEvent* e);

    // GUI thread, from the canvas widget: draws the pixel values onto a fresh pixmap.
    void polishPixmap(QPixmap& pixmap, const QImage& image);

signals:
    void closeRequested();
    void closeRequestedWithData(int boardIndex, int dmaIndex);
    void cameraClockChanged(int boardIndex, int dmaIndex, bool clockOn);
    void grabInfiniteButtonClicked();
    void grabSequenceButtonClicked();
    void grabSingleButtonClicked();
    void stopButtonClicked();
    void localSettingsButtonClicked();
    void grabButtonStatusUpdated();

public slots:
    void internalGrabInfiniteButtonClicked();
    void internalGrabSequenceButtonClicked();
    void internalGrabSingleButtonClicked();
    void internalStopButtonClicked();
    void internalLocalSettingsButtonClicked();

private slots:
    void horizontalScrollBarValueChanged(int value);
    void verticalScrollBarValueChanged(int value);
    void hexDecButtonToggled(bool checked);
    void gridButtonToggled(bool checked);
    void rgbOverlayButtonToggled(bool checked);
    void frameBufferValueChanged(int value);
    void zoomInButtonClicked();
    void zoomOutButtonClicked();
    void zoomValueChanged(int value);
    void eventTimerRefresh();
    void renderInterruptTimeout();
    void saveFrameButtonClicked();
    void saveSequenceButtonClicked();
    void toggleLineProfileVisibility();
    void toggleLineHistogramVisibility();

protected:
    bool event(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

    // The window's logger, "vexo.core.Qt4DisplaySceneVisualizer"; fetched on first use.
    virtual vexo::tools::logging::Logger& getDefaultLogger() const;

private:
    struct D;
    friend struct VisualizerInspector; // white-box access for the test suite

    explicit Qt4DisplaySceneVisualizer(QWidget* parent = nullptr, int boardIndex = -1, int dmaIndex = -1);

    // GUI-thread work of the scene callbacks, dispatched by event().
    void processSceneFrameChanged();
    void processRequestTimedInterrupt(boost::shared_ptr<StopWatch> stopWatch, std::uint64_t microseconds);
    void processCameraStatusUpdate(bool cameraClock, bool fval, bool lval, bool exsync, bool extrg, bool bufferOverflow,
                                   int fillLevelStep, int fillLevelPercent);
    void processGrabbingStarted();
    void processGrabbingStopped();
    void processFrameBuffersInvalidated();
    void processFrameBuffersAdded();

    void updateRenderTime(bool valid, std::uint64_t microseconds);
    void updateDisplayFps();
    void updateMouseData();
    void activateFrameBufferControls();
    void deactivateFrameBufferControls();
    void display_no_source_detected_messagebox();
    // A grab press: the signal for the host, or startGrabbing(mode) on the scene.
    void grabPressed(void (Qt4DisplaySceneVisualizer::*signal)(), int mode);
    void setupEvents();
    void shutdownEvents();
    void updateVisualizerVisibility();

    boost::shared_ptr<D> d;
    mutable vexo::tools::logging::Logger* defaultLogger = nullptr;
};

} // namespace core
} // namespace vexo
