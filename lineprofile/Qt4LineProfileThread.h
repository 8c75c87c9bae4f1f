#pragma once

#include <QThread>

#include <boost/shared_ptr.hpp>

namespace vexo {
namespace core {

class DisplaySceneFrame;

// The line profile tool's worker: reads one image line of a frame off the GUI thread.
// The dialog sets the request fields on the GUI thread while the worker is not running.
struct Qt4LineProfileThread : public QThread
{
    Qt4LineProfileThread() = default;
    ~Qt4LineProfileThread() override;

    boost::shared_ptr<DisplaySceneFrame> frame;
    bool startPending = false;
    int yPosition = 0;

protected:
    void run() override;
};

} // namespace core
} // namespace vexo
