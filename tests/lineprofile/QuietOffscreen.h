#pragma once

// The offscreen platform warns each time a window's size limits change (the dialog's fixed
// height and its layout change them often). The warning says nothing about the code under
// test and would bury real messages, so it is dropped; everything else passes through.

#include <QByteArray>
#include <QtGlobal>

namespace profiletest {

inline QtMessageHandler& previousHandler()
{
    static QtMessageHandler handler = nullptr;
    return handler;
}

inline void dropOffscreenSizeHintWarnings()
{
    previousHandler() = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (type == QtWarningMsg
                && message.startsWith(QLatin1String("This plugin does not support")))
                return;
            if (previousHandler())
                previousHandler()(type, context, message);
        });
}

} // namespace profiletest
