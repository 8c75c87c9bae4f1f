#pragma once

// The offscreen platform warns at every change of a window's size limits and every
// raise(), which the tool docks cause all the time; thousands of those would bury real
// messages. Called from a test function, so it sits in front of Qt Test's own handler.

#include <QtGlobal>

#include <QString>

namespace reliability {

inline void dropOffscreenPlatformWarnings()
{
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (type != QtWarningMsg || !message.startsWith(QLatin1String("This plugin does not support")))
            previous(type, context, message);
    });
}

} // namespace reliability
