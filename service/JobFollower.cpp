#include "JobFollower.h"

#include "ReplyShapes.h"

#include <QSet>

#include <algorithm>

JobFollower::JobFollower(StateReader readStates, int timeLimitMs, QObject *parent)
    : QObject(parent)
    , m_readStates(std::move(readStates))
    , m_timeLimitMs(timeLimitMs)
{
    m_nextLook.setSingleShot(true);
    connect(&m_nextLook, &QTimer::timeout, this, &JobFollower::look);
}

int JobFollower::follow(QObject *client, const QString &requestId, const SpooledJobs &jobs)
{
    const int room
        = std::min(kMaxJobsPerClient - countFor(client), kMaxJobsInTotal - int(m_jobs.size()));
    const int taken = std::clamp(int(jobs.ids.size()), 0, std::max(room, 0));
    for (int i = 0; i < taken; ++i) {
        m_jobs.append({ client, requestId, jobs.printer, jobs.ids.at(i),
                        QDeadlineTimer(m_timeLimitMs), std::nullopt });
    }
    if (taken > 0)
        scheduleLook(kFirstLookMs);
    return taken;
}

void JobFollower::forget(QObject *client)
{
    m_jobs.erase(std::remove_if(m_jobs.begin(), m_jobs.end(),
                                [client](const Followed &followed) {
                                    return !followed.client || followed.client == client;
                                }),
                 m_jobs.end());
    if (m_jobs.isEmpty())
        m_nextLook.stop();
}

int JobFollower::countFor(const QObject *client) const
{
    return int(std::count_if(m_jobs.cbegin(), m_jobs.cend(), [client](const Followed &followed) {
        return followed.client == client;
    }));
}

void JobFollower::look()
{
    QSet<QString> printers;
    for (const Followed &followed : qAsConst(m_jobs))
        printers.insert(followed.printer);
    bool changed = false;
    for (const QString &printer : qAsConst(printers))
        changed = lookAt(printer) || changed;
    dropEnded();
    if (!m_jobs.isEmpty())
        scheduleLook(changed ? kFirstLookMs : std::min(m_lookDelayMs * 2, kSlowestLookMs));
}

// A job the spooler no longer lists has left its queue, as Windows lets go of a printed job.
bool JobFollower::lookAt(const QString &printer)
{
    QList<int> ids;
    for (const Followed &followed : qAsConst(m_jobs)) {
        if (followed.printer == printer)
            ids.append(followed.job);
    }
    const std::optional<QHash<int, JobState>> states = m_readStates(printer, ids);
    if (!states)
        return false;
    bool changed = false;
    // Telling a client may end it, and with it entries of this list: walk by index.
    for (int i = 0; i < m_jobs.size(); ++i) {
        Followed &followed = m_jobs[i];
        if (followed.printer != printer)
            continue;
        const JobState state
            = states->value(followed.job, JobState { QStringLiteral("completed"), {} });
        if (followed.told != state) {
            changed = true;
            tell(followed, state);
        }
    }
    return changed;
}

void JobFollower::tell(Followed &followed, const JobState &state)
{
    followed.told = state;
    if (followed.client)
        emit jobChanged(
            followed.client,
            ReplyShapes::jobEvent(followed.requestId, followed.job, followed.printer, state));
}

void JobFollower::dropEnded()
{
    m_jobs.erase(std::remove_if(m_jobs.begin(), m_jobs.end(),
                                [](const Followed &followed) {
                                    return !followed.client || followed.deadline.hasExpired()
                                        || (followed.told && followed.told->ended());
                                }),
                 m_jobs.end());
}

void JobFollower::scheduleLook(int delayMs)
{
    m_lookDelayMs = delayMs;
    m_nextLook.start(delayMs);
}

// Compiled here rather than in a source of its own, which would parse the same headers again.
#include "moc_JobFollower.cpp"
