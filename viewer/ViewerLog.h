#pragma once

#include <QString>

#include <cstdint>
#include <string>

struct LoggingDispatcherDescriptor;

// The viewer's own logger, written through the logging dispatcher of the installation the
// display library was loaded from, as a client of its own beside the library. Silent when
// there is no dispatcher. Any thread.
class ViewerLog
{
public:
    explicit ViewerLog(const char* loggerName);
    ~ViewerLog();
    ViewerLog(const ViewerLog&) = delete;
    ViewerLog& operator=(const ViewerLog&) = delete;

    // Levels as the dispatcher's: 2 info, 4 warning, 5 error. False when no dispatcher
    // took the message (none, or the level is below the logger's).
    bool log(std::uint32_t level, const std::string& message);

    // <installation>/lib/libcommon-logging-dispatcher.so; empty when the library's own
    // file is unknown.
    static QString dispatcherPath();

private:
    static void disconnected();
    static void levelChanged(std::uint64_t id, std::uint32_t level);

    void* library = nullptr;
    const LoggingDispatcherDescriptor* descriptor = nullptr;
    void (*logMessage)(std::uint64_t, std::uint32_t, const char*, std::uint32_t, std::uintptr_t) = nullptr;
    std::uint64_t id = 0;
    std::uint32_t level = 8;
};
