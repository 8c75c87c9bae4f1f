#pragma once

#include <QEvent>

namespace vexo {
namespace core {

// Carries one camera status notification from a scene thread to the GUI thread.
struct CameraStatusUpdateEvent : public QEvent
{
    CameraStatusUpdateEvent(QEvent::Type type, bool cameraClock, bool fval, bool lval, bool exsync, bool extrg,
                            bool bufferOverflow, int fillLevelStep, int fillLevelPercent)
        : QEvent(type)
        , cameraClock(cameraClock)
        , fval(fval)
        , lval(lval)
        , exsync(exsync)
        , extrg(extrg)
        , bufferOverflow(bufferOverflow)
        , fillLevelStep(fillLevelStep)
        , fillLevelPercent(fillLevelPercent)
    {
    }

    bool cameraClock;
    bool fval;
    bool lval;
    bool exsync;
    bool extrg;
    bool bufferOverflow;
    int fillLevelStep;
    int fillLevelPercent;
};

} // namespace core
} // namespace vexo
