#pragma once

#include <QJsonObject>
#include <QString>

// Lenient reads of a print document's keys: a key is tested for presence and its value
// converted without a type check, so a wrongly typed value reads as empty or 0.
namespace JobValues {

QString text(const QJsonObject &job, const QString &key, const QString &absent = QString());
int integer(const QJsonObject &job, const QString &key, int absent);
double real(const QJsonObject &job, const QString &key, double absent);
bool boolean(const QJsonObject &job, const QString &key, bool absent);

} // namespace JobValues
