#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <functional>

class QMainWindow;

namespace vexo {
namespace core {
class DisplayScene;
} // namespace core
} // namespace vexo

// Tells the user, on stderr and in the window's status bar, when a channel's source fails
// him: a grab the source refused (a camera that is gone), and frames that stop coming
// while grabbing. Lives on the GUI thread; owned by its channel, which it must not outlive.
class SourceWatch : public QObject
{
    Q_OBJECT

public:
    // `frameTimeMilliseconds` gives the source's time between frames, < 0 when unknown; it
    // is asked as each grab begins (the rate may change between grabs). Frames are missed
    // after ten frame times, but never before a second.
    SourceWatch(const boost::shared_ptr<vexo::core::DisplayScene>& scene, QMainWindow* window,
                const QString& sourceName, std::function<double()> frameTimeMilliseconds);
    ~SourceWatch() override;

    // How long the source may send nothing while grabbing before it is reported.
    static qint64 allowanceMilliseconds(double frameTimeMilliseconds);

    // GUI thread, as the window's grab state changes: a grab that ended because its source
    // went away is told in the status bar, in the source's words (a headless run prints
    // them itself).
    void grabStateChanged();

signals:
    // A grab the source refused has been reported; the scene is idle again. A refused start
    // is never announced to the window, so buttons set while it was under way are stale.
    void grabRefused();

private:
    void look();
    void say(const QString& message, bool onStderr);

    const boost::shared_ptr<vexo::core::DisplayScene> scene;
    QMainWindow* window; // the channel's
    const QString sourceName;
    const std::function<double()> frameTime;
    qint64 allowance = 1000; // of the grab in progress

    QTimer poll;
    QElapsedTimer sinceFrame; // since the frame count last moved while grabbing
    std::uint64_t framesSeen = 0;
    qint64 reportedSeconds = 0; // of the stall reported last; 0: none
};
