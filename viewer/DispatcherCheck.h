#pragma once

#include <QString>

// The library writes its log through the logging dispatcher of its installation
// (<installation>/lib/libcommon-logging-dispatcher.so, the installation being the folder
// above the library's own) and stays silent when it cannot use one. The viewer looks the
// same way once at start-up, so that a user who asked for a log hears why there is none.
class DispatcherCheck
{
public:
    // Empty when the dispatcher is usable, or absent while no log was asked for
    // (VEXO_LOG_FILE, VEXO_LOG_LEVELS); else what is wrong, naming the file.
    static QString problem();
};
