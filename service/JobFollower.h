#pragma once

#include "JobStates.h"
#include "SpooledJobs.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

// Follows the print jobs of pages that asked for their outcome, and tells each page of every
// change of its own jobs until they end, the page leaves, or the time bound runs out. The
// spooler is asked only while jobs are followed: soon after a change, then ever more slowly
// while nothing changes, one question per printer however many jobs it has.
class JobFollower : public QObject
{
    Q_OBJECT

public:
    // What may be followed at once: a print of many copies is followed for its first jobs.
    static constexpr int kMaxJobsPerClient = 64;
    static constexpr int kMaxJobsInTotal = 256;
    // A job that has not ended by then, stuck in a stopped queue, is no longer followed.
    static constexpr int kTimeLimitMs = 10 * 60 * 1000;
    static constexpr int kFirstLookMs = 500;
    static constexpr int kSlowestLookMs = 8000;

    using StateReader = std::function<std::optional<QHash<int, JobState>>(const QString &printer,
                                                                          const QList<int> &jobs)>;

    explicit JobFollower(StateReader readStates = readJobStates, int timeLimitMs = kTimeLimitMs,
                         QObject *parent = nullptr);

    // Follows the jobs for the client, within the bounds; returns how many are followed.
    int follow(QObject *client, const QString &requestId, const SpooledJobs &jobs);
    // The client has left: its jobs are no longer followed.
    void forget(QObject *client);
    int followedCount() const { return m_jobs.size(); }

signals:
    // A followed job's state has changed; `text` is the job event for the client.
    void jobChanged(QObject *client, const QString &text);

private:
    struct Followed
    {
        QPointer<QObject> client;
        QString requestId;
        QString printer;
        int job = 0;
        QDeadlineTimer deadline;
        std::optional<JobState> told;
    };

    int countFor(const QObject *client) const;
    void look();
    // Looks at one printer's jobs; true when any of them changed.
    bool lookAt(const QString &printer);
    void tell(Followed &followed, const JobState &state);
    void dropEnded();
    void scheduleLook(int delayMs);

    const StateReader m_readStates;
    const int m_timeLimitMs;
    QList<Followed> m_jobs;
    QTimer m_nextLook;
    int m_lookDelayMs = kFirstLookMs;
};
