#include "lineprofile/Qt4LineProfileThread.h"

#include "vexo-lib-display/DisplaySceneFrame.h"

namespace vexo {
namespace core {

Qt4LineProfileThread::~Qt4LineProfileThread()
{
    wait();
}

void Qt4LineProfileThread::run()
{
}

} // namespace core
} // namespace vexo
