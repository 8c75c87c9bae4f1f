#pragma once

// What the viewer wrote with --report: one key=value a line.

#include <QFile>
#include <QMap>
#include <QString>

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
