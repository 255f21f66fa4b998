#include "RepeatedKeys.h"

#include <QSet>

#include <vector>

namespace {

constexpr int kUnicodeEscapeDigits = 4;

struct Level
{
    bool isObject;
    bool expectingKey;
    QSet<QString> keys;
};

QChar unescaped(QChar escaped)
{
    switch (escaped.unicode()) {
    case 'b':
        return QLatin1Char('\b');
    case 'f':
        return QLatin1Char('\f');
    case 'n':
        return QLatin1Char('\n');
    case 'r':
        return QLatin1Char('\r');
    case 't':
        return QLatin1Char('\t');
    default:
        return escaped;
    }
}

// Reads the string whose opening quote is at position; leaves position past its end.
QString readString(const QString &text, int &position)
{
    QString value;
    ++position;
    while (position < text.size()) {
        const QChar character = text.at(position++);
        if (character == QLatin1Char('"'))
            break;
        if (character != QLatin1Char('\\') || position == text.size()) {
            value += character;
            continue;
        }
        const QChar escaped = text.at(position++);
        if (escaped == QLatin1Char('u')) {
            value += QChar(text.mid(position, kUnicodeEscapeDigits).toUShort(nullptr, 16));
            position += kUnicodeEscapeDigits;
        } else {
            value += unescaped(escaped);
        }
    }
    return value;
}

} // namespace

bool hasRepeatedKey(const QString &json)
{
    std::vector<Level> levels;
    int position = 0;
    while (position < json.size()) {
        const QChar character = json.at(position);
        if (character == QLatin1Char('"')) {
            const QString text = readString(json, position);
            if (!levels.empty() && levels.back().expectingKey) {
                Level &level = levels.back();
                if (level.keys.contains(text))
                    return true;
                level.keys.insert(text);
                level.expectingKey = false;
            }
            continue;
        }
        if (character == QLatin1Char('{'))
            levels.push_back({ true, true, {} });
        else if (character == QLatin1Char('['))
            levels.push_back({ false, false, {} });
        else if ((character == QLatin1Char('}') || character == QLatin1Char(']'))
                 && !levels.empty())
            levels.pop_back();
        else if (character == QLatin1Char(',') && !levels.empty())
            levels.back().expectingKey = levels.back().isObject;
        ++position;
    }
    return false;
}
