#pragma once

#include <QObject>
#include <QTimer>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <memory>

namespace vexo {
namespace core {
class DisplayScene;
class FrameSource;
class Qt4DisplaySceneVisualizer;
} // namespace core
} // namespace vexo

class RecordBar;
class SourceSettingsDialog;
class SourceWatch;
struct ViewerOptions;

// One acquisition channel as a host runs it: a scene over a source (simulator or camera)
// and its display window, with the window's requests (close, grab buttons, camera clock)
// handled here, and the source's presence passed on to the window.
class Channel : public QObject
{
    Q_OBJECT

public:
    Channel(const ViewerOptions& options, std::unique_ptr<vexo::core::FrameSource> source, int board, int dma);
    ~Channel() override;

    vexo::core::Qt4DisplaySceneVisualizer* window() const;
    const boost::shared_ptr<vexo::core::DisplayScene>& scene() const;
    RecordBar* recordBar() const;

    // Passes frames dropped by the scene and lost by the source on to the window's
    // overflow counts (GUI thread; also run by a timer).
    void reportOverflows();

signals:
    void closed(Channel* channel);

private slots:
    void closeRequested(int board, int dma);
    void grabInfinite();
    void grabSequence();
    void grabSingle();
    void stop();
    void cameraClockChanged(int board, int dma, bool on);
    void setSourceDetectionDisabled(bool disabled);
    void checkSourceConnected();
    void updateControlButtons();
    void showSettings(int board, int dma);

private:
    boost::shared_ptr<vexo::core::DisplayScene> displayScene;
    std::unique_ptr<vexo::core::Qt4DisplaySceneVisualizer> displayWindow;
    // The window learns of a camera that comes or goes only on the GUI thread, so the
    // source is looked at a few times a second.
    QTimer connectionPoll;
    bool sourceConnected = false;
    std::uint64_t reportedDropped = 0; // overflow events already passed to the window
    std::uint64_t reportedLost = 0;
    RecordBar* recording = nullptr; // a child of the window
    // Made when first asked for; goes before the window it follows.
    std::unique_ptr<SourceSettingsDialog> settingsDialog;
    // Last, so that it goes first: it reports into the window.
    std::unique_ptr<SourceWatch> sourceWatch;
};
