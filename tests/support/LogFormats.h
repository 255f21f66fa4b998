#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

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

// Lines of a format with the given arguments, in the order of their numbers; a null argument
// stands for any text, such as a client's label.
inline QRegularExpression linesOf(const char *format, const QStringList &arguments)
{
    static const QRegularExpression placeholder(QStringLiteral("%([1-9])"));
    const QString text = QString::fromUtf8(format);
    QString pattern;
    int from = 0;
    QRegularExpressionMatchIterator matches = placeholder.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const QString argument = arguments.value(match.captured(1).toInt() - 1);
        pattern += QRegularExpression::escape(text.mid(from, match.capturedStart() - from))
            + (argument.isNull() ? QStringLiteral(".*") : QRegularExpression::escape(argument));
        from = match.capturedEnd();
    }
    pattern += QRegularExpression::escape(text.mid(from));
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern));
}
