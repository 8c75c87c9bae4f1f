#include "ViewerLog.h"

#include "common-logging-dispatcher/LoggingDispatcher.h"
#include "frame/VexoDisplayQt4.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

QString ViewerLog::dispatcherPath()
{
    // Where the library was loaded from, as the library itself finds its installation.
    Dl_info info = {};
    if (::dladdr(reinterpret_cast<void*>(&VexoDisplayQt4Init), &info) == 0 || !info.dli_fname)
        return QString();
    QDir installation = QFileInfo(QFile::decodeName(info.dli_fname)).absoluteDir();
    installation.cdUp();
    return installation.filePath(QStringLiteral("lib/libcommon-logging-dispatcher.so"));
}

ViewerLog::ViewerLog(const char* loggerName)
{
    const QString path = dispatcherPath();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    library = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return;
    descriptor =
        static_cast<const LoggingDispatcherDescriptor*>(::dlsym(library, LOGGING_DISPATCHER_DESCRIPTOR_SYMBOL));
    if (!descriptor) {
        ::dlclose(library);
        library = nullptr;
        return;
    }
    LoggingRegisterLoggerFunction registerLogger = nullptr;
    descriptor->attach(this, &ViewerLog::disconnected, &ViewerLog::levelChanged, &registerLogger, &logMessage);
    if (registerLogger)
        registerLogger(loggerName, &id, &level);
}

ViewerLog::~ViewerLog()
{
    if (descriptor)
        descriptor->detach(this, descriptor);
    if (library)
        ::dlclose(library);
}

bool ViewerLog::log(std::uint32_t messageLevel, const std::string& message)
{
    if (!logMessage || messageLevel < level)
        return false;
    logMessage(id, messageLevel, message.c_str(), 0, 0);
    return true;
}

// The viewer's logger keeps the level it registered with: level changes are for the
// library's loggers, and the dispatcher outlives the viewer's client.
void ViewerLog::disconnected() { }

void ViewerLog::levelChanged(std::uint64_t, std::uint32_t) { }
