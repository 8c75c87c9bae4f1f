#include "DispatcherCheck.h"

#include "ViewerLog.h"

#include "common-logging-dispatcher/LoggingDispatcher.h"

#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

QString DispatcherCheck::problem()
{
    const QString path = ViewerLog::dispatcherPath();
    if (path.isEmpty())
        return QString();
    if (!QFileInfo::exists(path)) {
        for (const char* asked : {"VEXO_LOG_FILE", "VEXO_LOG_LEVELS"})
            if (qEnvironmentVariableIsSet(asked))
                return QStringLiteral("%1 is set, but there is no logging dispatcher at %2: nothing is logged")
                    .arg(QLatin1String(asked), path);
        return QString();
    }
    void* library = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return QStringLiteral("cannot load the logging dispatcher: %1; nothing is logged")
            .arg(QString::fromLocal8Bit(::dlerror()));
    const bool isDispatcher = ::dlsym(library, LOGGING_DISPATCHER_DESCRIPTOR_SYMBOL) != nullptr;
    ::dlclose(library);
    if (!isDispatcher)
        return QStringLiteral("%1 is not a logging dispatcher (it has no %2): nothing is logged")
            .arg(path, QLatin1String(LOGGING_DISPATCHER_DESCRIPTOR_SYMBOL));
    return QString();
}
