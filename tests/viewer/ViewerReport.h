#pragma once

// The viewer as the process tests start: its environment, its end, and what it wrote with
// --report (one key=value a line). VEXO_VIEWER is the program.

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QTest>

inline QMap<QString, QString> readReport(const QString& path)
{
    QMap<QString, QString> values;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        for (const QString& line : QString::fromUtf8(file.readAll()).split('\n'))
            if (line.indexOf('=') > 0)
                values.insert(line.section('=', 0, 0), line.section('=', 1));
    return values;
}

// Leading NAME=value arguments go into its environment instead; NAME= removes NAME.
inline void startViewer(QProcess& viewer, QStringList arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    static const QRegularExpression assignment(QStringLiteral("^([A-Z_][A-Z0-9_]*)=(.*)$"));
    for (QRegularExpressionMatch m; !arguments.isEmpty() && (m = assignment.match(arguments.first())).hasMatch();
         arguments.removeFirst()) {
        if (m.captured(2).isEmpty())
            environment.remove(m.captured(1));
        else
            environment.insert(m.captured(1), m.captured(2));
    }
    viewer.setProcessEnvironment(environment);
    viewer.start(QStringLiteral(VEXO_VIEWER), arguments);
}

// Runs the viewer to its end; returns its exit status (-1 when it crashed or hung) and
// what it wrote to its standard error.
inline int runViewer(const QStringList& arguments, QString* errors, int patience = 60000)
{
    QProcess viewer;
    startViewer(viewer, arguments);
    const bool ended = viewer.waitForFinished(patience) || (viewer.kill(), viewer.waitForFinished(), false);
    *errors = QString::fromLocal8Bit(viewer.readAllStandardError());
    return ended && viewer.exitStatus() == QProcess::NormalExit ? viewer.exitCode() : -1;
}

// True once a viewer grabbing on has shown frames, and still runs.
inline bool showsFrames(QProcess& viewer)
{
    QByteArray output;
    const bool either = QTest::qWaitFor(
        [&] {
            return (output += viewer.readAllStandardOutput()).contains("frames shown")
                   || viewer.state() == QProcess::NotRunning;
        },
        30000);
    return either && output.contains("frames shown") && viewer.state() == QProcess::Running;
}
