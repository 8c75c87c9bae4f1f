#pragma once

#include "frame/LineToolThread.h"

namespace vexo {
namespace core {

// The line histogram tool's worker: counts the values of one image line of a frame and draws
// them as a 256 x 256 logarithmic histogram picture. Request, picture store and threads as
// in LineToolThread.
struct Qt4LineHistogramThread : public LineToolThread
{
    static constexpr int pictureSize = pictureHeight;
    static constexpr int pictureBytes = pictureSize * pictureSize * 4;

    Qt4LineHistogramThread();
    ~Qt4LineHistogramThread() override;

protected:
    void drawLine(const FrameBuffer& source, int y) override;
};

} // namespace core
} // namespace vexo
