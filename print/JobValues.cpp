#include "JobValues.h"

namespace JobValues {

QString text(const QJsonObject &job, const QString &key, const QString &absent)
{
    return job.contains(key) ? job.value(key).toString() : absent;
}

int integer(const QJsonObject &job, const QString &key, int absent)
{
    return job.contains(key) ? job.value(key).toInt(0) : absent;
}

double real(const QJsonObject &job, const QString &key, double absent)
{
    return job.contains(key) ? job.value(key).toDouble(0) : absent;
}

bool boolean(const QJsonObject &job, const QString &key, bool absent)
{
    return job.contains(key) ? job.value(key).toBool(false) : absent;
}

} // namespace JobValues
