#pragma once

#include <QString>

// The fixed text of a log line's format before its first argument and after its last, for
// picking lines of one kind out of a log whatever the arguments were.
inline QString textBeforeArguments(const char *format)
{
    const QString text = QString::fromUtf8(format);
    return text.left(text.indexOf(QLatin1Char('%')));
}

inline QString textAfterArguments(const char *format)
{
    const QString text = QString::fromUtf8(format);
    return text.mid(text.lastIndexOf(QLatin1Char('%')) + 2);
}
