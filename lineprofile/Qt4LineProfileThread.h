#pragma once

#include "frame/LineToolThread.h"

namespace vexo {
namespace core {

// The line profile tool's worker: reads one image line of a frame and draws it as a filled
// curve into a 256-row picture of the line's width (row r stands for the level 255 - r).
// Request, picture store and threads as in LineToolThread.
struct Qt4LineProfileThread : public LineToolThread
{
    Qt4LineProfileThread() = default;
    // Waits for a run in progress, then frees the picture and lets go of the frame.
    ~Qt4LineProfileThread() override;

protected:
    void drawLine(const FrameBuffer& source, int y) override;
};

} // namespace core
} // namespace vexo
