#pragma once

#include <QSignalSpy>
#include <QStringList>

// What a service logged apart from the connections it accepted: its devices' lines.
inline QStringList deviceLines(const QSignalSpy &log)
{
    QStringList lines;
    for (const QList<QVariant> &arguments : log) {
        const QString line = arguments.first().toString();
        if (!line.startsWith(QStringLiteral("與用戶端")))
            lines.append(line);
    }
    return lines;
}
