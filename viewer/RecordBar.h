#pragma once

#include <QString>
#include <QTimer>
#include <QToolBar>

#include <boost/weak_ptr.hpp>

#include <cstdint>
#include <memory>
#include <string>

class QLabel;
class ViewerLog;
class QToolButton;

namespace vexo {
namespace core {
class DisplayScene;
class Qt4DisplaySceneVisualizer;
} // namespace core
} // namespace vexo

// The host's recording control on a channel window: a tool bar with a "Record" button and
// the running count. While it is down every frame the scene stores goes to disk (see
// SceneRecorder). Frames not written and a recording that ends by itself (a full disk)
// are shown in the bar, written to stderr and logged. GUI thread only; the window is its
// parent.
class RecordBar : public QToolBar
{
    Q_OBJECT

public:
    struct Settings
    {
        QString folder; // empty: asked for at the first press
        bool bigTiff = false;
        std::uint64_t frameLimit = 0; // 0: until stopped
    };

    RecordBar(vexo::core::Qt4DisplaySceneVisualizer* window, const boost::weak_ptr<vexo::core::DisplayScene>& scene,
              const Settings& settings);
    ~RecordBar() override;

    // Records into the folder, or into a new folder in it named by the time when it holds
    // a recording already; false when it cannot (the reason is shown and told).
    bool startRecording();
    void stopRecording();
    // "recorded 500 frames to DIR: 498 written, 2 not written, 812.5 MB/s".
    QString summary() const;

signals:
    // The recording ended, asked for or by itself (the limit, a full disk).
    void recordingEnded();

private slots:
    void buttonToggled(bool down);
    void refresh();

private:
    void tell(int level, const std::string& message);

    boost::weak_ptr<vexo::core::DisplayScene> scene;
    Settings settings;
    QToolButton* button; // owned by the bar
    QLabel* count; // owned by the bar
    QTimer poll;
    std::unique_ptr<ViewerLog> log;
    QString target; // where the current or last recording goes
    std::uint64_t toldNotWritten = 0;
    bool active = false; // a recording was started and has not been seen ending
};
