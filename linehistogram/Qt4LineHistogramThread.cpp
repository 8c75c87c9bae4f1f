#include "linehistogram/Qt4LineHistogramThread.h"

#include "vexo-lib-display/DisplaySceneFrame.h"

namespace vexo {
namespace core {

Qt4LineHistogramThread::~Qt4LineHistogramThread()
{
    wait();
}

void Qt4LineHistogramThread::run()
{
}

} // namespace core
} // namespace vexo
