#pragma once

#include "vexo-core/StopWatch.h"

#include <QEvent>

#include <boost/shared_ptr.hpp>

#include <cstdint>

namespace vexo {
namespace core {

// Carries a timed-interrupt request from a scene thread to the GUI thread. The event holds
// its own reference to the stop watch until Qt deletes it.
struct RequestTimedInterruptEvent : public QEvent
{
    RequestTimedInterruptEvent(QEvent::Type type, boost::shared_ptr<StopWatch> stopWatch, std::uint64_t microseconds)
        : QEvent(type)
        , stopWatch(std::move(stopWatch))
        , microseconds(microseconds)
    {
    }

    boost::shared_ptr<StopWatch> stopWatch;
    std::uint64_t microseconds;
};

} // namespace core
} // namespace vexo
