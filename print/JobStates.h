#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the spooler says of one print job.
struct JobState
{
    // "pending", "held", "processing", "stopped", "completed", "canceled" or "aborted".
    QString state;
    // The spooler's reasons, such as "media-empty", "offline" or "door-open": the job's own and,
    // while the job has not ended, its printer's.
    QStringList reasons;

    bool ended() const;
    bool operator==(const JobState &other) const
    {
        return state == other.state && reasons == other.reasons;
    }
    bool operator!=(const JobState &other) const { return !(*this == other); }
};

// The states of these jobs of one printer, by job id. Jobs that the spooler no longer lists are
// left out; nothing at all when the spooler cannot be asked.
std::optional<QHash<int, JobState>> readJobStates(const QString &printer, const QList<int> &jobs);
