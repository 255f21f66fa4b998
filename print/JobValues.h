#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// Lenient reads of a print document's keys: a key is tested for presence and its value
// converted without a type check, so a wrongly typed value reads as empty or 0.
namespace JobValues {

// A key written as a C string, as the document's readers name them.
inline QString keyOf(const char *key)
{
    return QLatin1String(key);
}

QString text(const QJsonObject &job, const QString &key, const QString &absent = QString());
int integer(const QJsonObject &job, const QString &key, int absent);
double real(const QJsonObject &job, const QString &key, double absent);
bool boolean(const QJsonObject &job, const QString &key, bool absent);

// A number as one of Qt's enums, or nothing when it lies outside [first, last]: a value
// outside an enum's range would be undefined, so such numbers never become one.
template<typename Enum> std::optional<Enum> enumValue(int number, Enum first, Enum last)
{
    if (number < int(first) || number > int(last))
        return std::nullopt;
    return Enum(number);
}

} // namespace JobValues
