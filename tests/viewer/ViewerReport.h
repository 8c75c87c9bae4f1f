#pragma once

// The viewer as the process tests start: its environment, its end, and what it wrote with
// --report (one key=value a line). VEXO_VIEWER is the program.

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTest>

#include <functional>

inline QMap<QString, QString> readReport(const QString& path)
{
    QMap<QString, QString> values;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        for (const QString& line : QString::fromUtf8(file.readAll()).split('\n'))
            values.insert(line.section('=', 0, 0), line.section('=', 1));
    return values;
}

// Runs the viewer to its end; returns its exit status (-1 when it crashed or hung) and
// what it wrote to its standard error. Leading NAME=value arguments go into its
// environment instead (NAME= removes NAME). onceShown runs when the viewer has said that
// it shows frames, while it still runs.
inline int runViewer(QStringList arguments, QString* errors, const std::function<void(QProcess&)>& onceShown = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (; !arguments.isEmpty() && !arguments.first().startsWith('-'); arguments.removeFirst()) {
        const QString name = arguments.first().section('=', 0, 0), value = arguments.first().section('=', 1);
        if (value.isEmpty())
            environment.remove(name);
        else
            environment.insert(name, value);
    }
    QProcess viewer;
    viewer.setProcessEnvironment(environment);
    viewer.start(QStringLiteral(VEXO_VIEWER), arguments);
    QByteArray output;
    const auto shown = [&] { return (output += viewer.readAllStandardOutput()).contains("frames shown"); };
    if (onceShown && QTest::qWaitFor([&] { return shown() || viewer.state() == QProcess::NotRunning; }, 30000)
        && viewer.state() == QProcess::Running)
        onceShown(viewer);
    const bool ended = viewer.waitForFinished(60000) || (viewer.kill(), viewer.waitForFinished(), false);
    *errors = QString::fromLocal8Bit(viewer.readAllStandardError());
    return ended && viewer.exitStatus() == QProcess::NormalExit ? viewer.exitCode() : -1;
}
