#include "JobFollower.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <vector>

// What the spooler answers at one look: nothing when it cannot be asked.
using States = std::optional<QHash<int, JobState>>;
Q_DECLARE_METATYPE(States)

namespace {

// Waits long enough for the follower to have looked at least twice.
constexpr int kTwoLooksMs = 3 * JobFollower::kFirstLookMs;

JobState stateOf(const QString &state, const QStringList &reasons = {})
{
    return { state, reasons };
}

QJsonObject eventOf(const QList<QVariant> &emitted)
{
    return QJsonDocument::fromJson(emitted.at(1).toString().toUtf8())
        .object()
        .value(QStringLiteral("job"))
        .toObject();
}

} // namespace

class TestJobFollower : public QObject
{
    Q_OBJECT

private slots:
    void followsOnlyWithinItsBounds_data();
    void followsOnlyWithinItsBounds();
    void tellsEachChangeUntilTheJobEnds_data();
    void tellsEachChangeUntilTheJobEnds();
    void stopsFollowingForClientsThatLeaveAndAfterTheTimeBound();
};

void TestJobFollower::followsOnlyWithinItsBounds_data()
{
    QTest::addColumn<int>("clients");
    QTest::addColumn<int>("jobsEach");
    QTest::addColumn<int>("followed");

    QTest::newRow("a few") << 2 << 3 << 12;
    QTest::newRow("one client's many copies") << 1 << 200 << JobFollower::kMaxJobsPerClient;
    QTest::newRow("many clients") << 10 << JobFollower::kMaxJobsPerClient
                                  << JobFollower::kMaxJobsInTotal;
}

void TestJobFollower::followsOnlyWithinItsBounds()
{
    QFETCH(int, clients);
    QFETCH(int, jobsEach);
    QFETCH(int, followed);
    JobFollower follower([](const QString &, const QList<int> &) { return States(); });
    std::vector<std::unique_ptr<QObject>> pages;
    int nextJob = 1;
    for (int client = 0; client < clients; ++client) {
        pages.push_back(std::make_unique<QObject>());
        SpooledJobs jobs { QStringLiteral("Kassa"), {} };
        for (int i = 0; i < jobsEach; ++i)
            jobs.ids.append(nextJob++);
        // Asking again adds nothing beyond the bounds either.
        follower.follow(pages.back().get(), QStringLiteral("p"), jobs);
        follower.follow(pages.back().get(), QStringLiteral("q"), jobs);
    }
    QCOMPARE(follower.followedCount(), followed);
}

void TestJobFollower::tellsEachChangeUntilTheJobEnds_data()
{
    QTest::addColumn<QList<States>>("answers");
    QTest::addColumn<QStringList>("told");

    const QHash<int, JobState> none;
    QTest::newRow("printed") << QList<States> {
        QHash<int, JobState> { { 5, stateOf("processing", { "job-printing" }) } },
        QHash<int, JobState> { { 5, stateOf("processing", { "job-printing" }) } },
        QHash<int, JobState> { { 5, stateOf("completed") } },
    } << QStringList { "processing job-printing", "completed" };
    QTest::newRow("out of paper, then aborted") << QList<States> {
        QHash<int, JobState> { { 5, stateOf("processing") } },
        QHash<int, JobState> { { 5, stateOf("processing", { "media-empty" }) } },
        QHash<int, JobState> { { 5, stateOf("aborted", { "media-empty" }) } },
    } << QStringList { "processing", "processing media-empty", "aborted media-empty" };
    QTest::newRow("spooler silent, then no longer listing the job")
        << QList<States> { States(), States(), none } << QStringList { "completed" };
}

// The follower asks at every look; after its last answer the spooler repeats it.
void TestJobFollower::tellsEachChangeUntilTheJobEnds()
{
    QFETCH(QList<States>, answers);
    QFETCH(QStringList, told);
    int asked = 0;
    JobFollower follower([&](const QString &printer, const QList<int> &jobs) {
        [&] {
            QCOMPARE(printer, QStringLiteral("Kassa"));
            QCOMPARE(jobs, QList<int> { 5 });
        }();
        return answers.at(std::min(asked++, int(answers.size()) - 1));
    });
    QSignalSpy events(&follower, &JobFollower::jobChanged);
    QObject page;

    QCOMPARE(follower.follow(&page, QStringLiteral("r1"), { QStringLiteral("Kassa"), { 5 } }), 1);

    QTRY_COMPARE_WITH_TIMEOUT(follower.followedCount(), 0, 30000);
    QStringList seen;
    for (const QList<QVariant> &emitted : events) {
        QCOMPARE(emitted.at(0).value<QObject *>(), &page);
        const QJsonObject event = eventOf(emitted);
        QCOMPARE(event.value(QStringLiteral("id")).toString(), QStringLiteral("r1"));
        QCOMPARE(event.value(QStringLiteral("job")).toInt(), 5);
        QCOMPARE(event.value(QStringLiteral("printer")).toString(), QStringLiteral("Kassa"));
        QStringList parts { event.value(QStringLiteral("state")).toString() };
        for (const QJsonValue &reason : event.value(QStringLiteral("reasons")).toArray())
            parts.append(reason.toString());
        seen.append(parts.join(QLatin1Char(' ')));
    }
    QCOMPARE(seen, told);
    // Nothing followed, nothing asked.
    const int askedAtEnd = asked;
    QTest::qWait(kTwoLooksMs);
    QCOMPARE(asked, askedAtEnd);
}

void TestJobFollower::stopsFollowingForClientsThatLeaveAndAfterTheTimeBound()
{
    const QHash<int, JobState> stuck { { 1, stateOf("pending", { "paused" }) },
                                       { 2, stateOf("pending", { "paused" }) } };
    constexpr int kShortBoundMs = 2000;
    JobFollower follower([&](const QString &, const QList<int> &) { return States(stuck); },
                         kShortBoundMs);
    QSignalSpy events(&follower, &JobFollower::jobChanged);
    auto leaving = std::make_unique<QObject>();
    QObject staying;
    follower.follow(leaving.get(), QStringLiteral("a"), { QStringLiteral("Kassa"), { 1 } });
    follower.follow(&staying, QStringLiteral("b"), { QStringLiteral("Kassa"), { 2 } });

    leaving.reset();
    QTRY_COMPARE(events.size(), 1);
    QCOMPARE(eventOf(events.first()).value(QStringLiteral("id")).toString(), QStringLiteral("b"));
    QTRY_COMPARE_WITH_TIMEOUT(follower.followedCount(), 0, 3 * kShortBoundMs);
    QCOMPARE(events.size(), 1);
}

QTEST_MAIN(TestJobFollower)
#include "TestJobFollower.moc"
