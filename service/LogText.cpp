#include "LogText.h"

#include <QCoreApplication>

namespace {

const char kCutMark[] = "…(共%1字)";

bool isBidirectionalControl(char16_t unit)
{
    return unit == 0x061C || unit == 0x200E || unit == 0x200F || (unit >= 0x202A && unit <= 0x202E)
        || (unit >= 0x2066 && unit <= 0x2069);
}

bool isShownEscaped(char16_t unit)
{
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x2028 || unit == 0x2029
        || isBidirectionalControl(unit);
}

// Never ends between the two halves of a surrogate pair.
int cutLength(const QString &text)
{
    if (text.size() <= LogText::kMaxClientCharacters)
        return text.size();
    const int length = LogText::kMaxClientCharacters;
    return text.at(length - 1).isHighSurrogate() ? length - 1 : length;
}

} // namespace

namespace LogText {

QString clientText(const QString &text)
{
    const int length = cutLength(text);
    QString shown;
    shown.reserve(length + 16);
    for (int i = 0; i < length; ++i) {
        const char16_t unit = text.at(i).unicode();
        if (isShownEscaped(unit))
            shown += QStringLiteral("\\u%1").arg(unsigned(unit), 4, 16, QLatin1Char('0'));
        else
            shown += text.at(i);
    }
    if (length < text.size())
        shown += QCoreApplication::translate("LogText", kCutMark).arg(text.size());
    return shown;
}

} // namespace LogText
