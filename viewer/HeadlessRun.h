#pragma once

#include "ViewerOptions.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <boost/shared_ptr.hpp>

class Channel;

namespace vexo {
namespace core {
class FrameBuffer;
}
} // namespace vexo

// The headless run on the first channel: grab, stop once enough frames were shown, wait
// until the newest frame is on screen, then save, photograph, report and close. GUI thread.
class HeadlessRun : public QObject
{
public:
    HeadlessRun(const ViewerOptions& options, Channel* channel);

    void start();
    // SIGTERM or SIGINT: end now with what was shown so far.
    void interrupt();

    int status = 0;
    // The run ended before the frames asked for were shown: scripts must notice.
    static constexpr int exitSourceGone = 4;

private:
    void step();
    void finish();
    void writeReport();

    enum Phase { Grabbing, Stopping, Settling };
    const ViewerOptions& options;
    Channel* channel;
    QTimer poll;
    Phase phase = Grabbing;
    int settleRounds = 0;
    bool firstFrameTold = false;
    bool sourceLost = false;
    bool finished = false;
    QString acquisitionRate;
    boost::shared_ptr<vexo::core::FrameBuffer> newest;
};
