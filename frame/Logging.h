#pragma once

#include "frame/GuardedSingleton.h"

#include <cstdint>

namespace vexo {
namespace tools {
namespace logging {

class Logger;

// The process-wide source of loggers. Messages go to a logging dispatcher when one is
// attached; without one every name yields the default logger (level 7) and messages are
// dropped.
class Logging : public GuardedSingleton<Logging>
{
public:
    Logging();
    ~Logging() override;

    // Never null. Any thread.
    Logger* getLogger(const char* name);

    void dispatchMessage(std::uint64_t id, std::uint32_t level, const char* message,
                         std::uint32_t a, std::uintptr_t b);

private:
    struct D;
    D* d;
};

} // namespace logging
} // namespace tools
} // namespace vexo
