#pragma once

#include <QThread>

#include <boost/shared_ptr.hpp>

namespace vexo {
namespace core {

class DisplaySceneFrame;

// The line histogram tool's worker: reads one image line of a frame off the GUI thread.
// The dialog sets the request fields on the GUI thread while the worker is not running.
struct Qt4LineHistogramThread : public QThread
{
    Qt4LineHistogramThread() = default;
    ~Qt4LineHistogramThread() override;

    boost::shared_ptr<DisplaySceneFrame> frame;
    bool startPending = false;
    int yPosition = 0;

protected:
    void run() override;
};

} // namespace core
} // namespace vexo
