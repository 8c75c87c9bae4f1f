#pragma once

#include "frame/GuardedSingleton.h"

#include <cstdint>

namespace vexo {
namespace tools {
namespace logging {

class Logger;

// The process-wide source of loggers. On creation it loads the logging dispatcher
// (libcommon-logging-dispatcher.so of the runtime's installation, see
// InstallationDirectory.h) and forwards every message to it; the dispatcher gives each
// logger name an id and a level, and may later change levels or disconnect. Without a
// dispatcher every name yields the default logger (level 7) and messages are dropped.
//
// Created by the first instance() and, while the library is initialised, destroyed at
// its last deinitialisation; loggers handed out before that must not be used after it.
// Every member may be called from any thread.
class Logging : public GuardedSingleton<Logging>
{
public:
    Logging();
    ~Logging() override;

    // The logger for name; never null. Loggers are shared per dispatcher id.
    Logger* getLogger(const char* name);

    // Forwards a message to the dispatcher, if one is attached. No level test is made.
    void dispatchMessage(std::uint64_t id, std::uint32_t level, const char* message, std::uint32_t a, std::uintptr_t b);

    // Whether a dispatcher is attached (and has not disconnected).
    bool isAttached() const;

private:
    void afterCreate() override;

    // The dispatcher's callbacks; they act on the current instance, if there is one.
    static void disconnectCallback();
    static void setLevelCallback(std::uint64_t id, std::uint32_t level);

    struct D;
    D* d;
};

} // namespace logging
} // namespace tools
} // namespace vexo
