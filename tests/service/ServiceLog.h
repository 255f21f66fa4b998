#pragma once

#include "LogFormats.h"
#include "ServiceTexts.h"

#include <QSignalSpy>
#include <QStringList>

// What a service logged apart from the connections it accepted: its devices' lines.
inline QStringList deviceLines(const QSignalSpy &log)
{
    QStringList lines;
    for (const QList<QVariant> &arguments : log) {
        const QString line = arguments.first().toString();
        if (!line.startsWith(textBeforeArguments(ServiceTexts::kConnected)))
            lines.append(line);
    }
    return lines;
}
