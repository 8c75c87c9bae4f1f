#pragma once

#include <boost/shared_ptr.hpp>

#include <cstdint>

namespace vexo {
namespace tools {
namespace logging {

// A named logger handed out by Logging. Callers test isEnabled(level) before they build a
// message, then call log(). Any thread.
class Logger
{
public:
    Logger(std::uint64_t id, std::uint32_t level);
    virtual ~Logger();

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // True when level is at least the logger's level and the calling thread has not
    // switched the logger off.
    bool isEnabled(std::uint32_t level);
    // Hands the message to the dispatcher, if one is attached, without a level test (the
    // caller has made it). a and b reach the dispatcher unchanged.
    void log(std::uint32_t level, const char* message, std::uint32_t a, std::uintptr_t b);
    // Switches the logger off (false) or on (true) for the calling thread; returns whether
    // it was on before.
    bool setThreadEnabled(bool enabled);

    std::uint64_t id() const;
    std::uint32_t level() const;
    // Called by the dispatcher's level change, on its thread.
    void setLevel(std::uint32_t level);

private:
    struct D;
    D* d;
};

} // namespace logging
} // namespace tools
} // namespace vexo
