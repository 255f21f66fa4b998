#include "JobStates.h"

#include "WinSpooler.h"

namespace {

QString stateName(DWORD status)
{
    if (status & (JOB_STATUS_DELETING | JOB_STATUS_DELETED))
        return QStringLiteral("canceled");
    if (status & (JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE))
        return QStringLiteral("completed");
    if (status
        & (JOB_STATUS_ERROR | JOB_STATUS_PAPEROUT | JOB_STATUS_OFFLINE | JOB_STATUS_BLOCKED_DEVQ
           | JOB_STATUS_USER_INTERVENTION))
        return QStringLiteral("stopped");
    if (status & JOB_STATUS_PAUSED)
        return QStringLiteral("held");
    if (status & (JOB_STATUS_PRINTING | JOB_STATUS_SPOOLING))
        return QStringLiteral("processing");
    return QStringLiteral("pending");
}

QStringList jobReasons(DWORD status)
{
    QStringList reasons;
    if (status & JOB_STATUS_PAPEROUT)
        reasons.append(QStringLiteral("media-empty"));
    if (status & JOB_STATUS_OFFLINE)
        reasons.append(QStringLiteral("offline"));
    if (status & (JOB_STATUS_ERROR | JOB_STATUS_USER_INTERVENTION))
        reasons.append(QStringLiteral("other"));
    return reasons;
}

} // namespace

// Windows keeps a job only until it has printed: a job no longer listed has left the queue.
std::optional<QHash<int, JobState>> readJobStates(const QString &printer, const QList<int> &jobs)
{
    const WinSpooler::Printer opened(printer);
    QByteArray printerBuffer;
    const PRINTER_INFO_2W *info = opened.info(printerBuffer);
    if (!info)
        return std::nullopt;
    const QStringList printerReasons = WinSpooler::printerReasons(info->Status);
    QHash<int, JobState> states;
    for (const int id : jobs) {
        DWORD needed = 0;
        GetJobW(opened.handle(), DWORD(id), 1, nullptr, 0, &needed);
        if (needed == 0)
            continue;
        QByteArray buffer(int(needed), Qt::Uninitialized);
        if (!GetJobW(opened.handle(), DWORD(id), 1, reinterpret_cast<LPBYTE>(buffer.data()), needed,
                     &needed))
            continue;
        const DWORD status = reinterpret_cast<const JOB_INFO_1W *>(buffer.constData())->Status;
        JobState job { stateName(status), jobReasons(status) };
        if (!job.ended()) {
            for (const QString &reason : printerReasons) {
                if (!job.reasons.contains(reason))
                    job.reasons.append(reason);
            }
        }
        states.insert(id, job);
    }
    return states;
}
