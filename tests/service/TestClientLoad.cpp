#include "ClientCrowd.h"
#include "DevProxy.h"
#include "FakeAD101.h"
#include "FakePrintEngine.h"
#include "InProcessConfig.h"
#include "ServiceTexts.h"
#include "TestDeviceFactory.h"
#include "VersionReply.h"

#include <QHostInfo>
#include <QTest>

#include <algorithm>

#include <sys/resource.h>

namespace {

const QByteArray kLongLoadVariable = "KIV3_LONG_LOAD";
// Descriptors for the test's own files and sockets besides the two ends of every client.
constexpr rlim_t kSpareDescriptors = 256;
// How long the replies may stop coming before the service counts as stuck: a loaded machine
// only makes them come slower, a lost reply makes them stop.
constexpr int kStallMs = 30000;
using ServiceTexts::kVersionQueried;

// Waits while replies keep coming, until all have come or a client was dropped.
bool awaitEveryReply(const ClientCrowd &crowd, int total)
{
    int seen = -1;
    while (crowd.received() != seen) {
        seen = crowd.received();
        if (QTest::qWaitFor([&] { return crowd.received() >= total || crowd.disconnected() > 0; },
                            kStallMs))
            return true;
    }
    return false;
}

// Both ends of every connection are in this process.
QString allowDescriptors(rlim_t needed)
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= needed)
        return QString();
    limit.rlim_cur = needed;
    limit.rlim_max = std::max(limit.rlim_max, needed);
    if (::setrlimit(RLIMIT_NOFILE, &limit) == 0)
        return QString();
    return QStringLiteral("cannot raise the open file limit to %1; run as root").arg(needed);
}

} // namespace

class TestClientLoad : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void everyQueryIsAnsweredOnItsOwnSocket_data();
    void everyQueryIsAnsweredOnItsOwnSocket();
};

void TestClientLoad::init()
{
    fakeAD101().reset();
}

void TestClientLoad::everyQueryIsAnsweredOnItsOwnSocket_data()
{
    QTest::addColumn<int>("clients");
    QTest::addColumn<int>("queriesPerClient");
    QTest::addColumn<bool>("isLongRun");
    QTest::newRow("200 clients by 20 queries") << 200 << 20 << false;
    QTest::newRow("1000 clients by 100 queries") << 1000 << 100 << true;
}

// All clients stay connected while the service answers every one of their pipelined
// queries. Every reply is alike, so one sent to the wrong socket shows as one client with
// a reply too many and another with one too few.
void TestClientLoad::everyQueryIsAnsweredOnItsOwnSocket()
{
    QFETCH(int, clients);
    QFETCH(int, queriesPerClient);
    QFETCH(bool, isLongRun);
    if (isLongRun && qgetenv(kLongLoadVariable) != "1")
        QSKIP("the long load run needs KIV3_LONG_LOAD=1 (./tools/run-tests.sh --long)");
    const QString descriptorProblem = allowDescriptors(rlim_t(clients) * 2 + kSpareDescriptors);
    QVERIFY2(descriptorProblem.isEmpty(), qPrintable(descriptorProblem));

    DevProxy proxy(nullptr, std::make_unique<FakePrintEngine>(),
                   std::make_unique<TestDeviceFactory>(), inProcessConfig());
    int versionLines = 0;
    connect(&proxy, &DevProxy::message, this, [&versionLines](const QString &line) {
        versionLines += line.endsWith(kVersionQueried) ? 1 : 0;
    });
    const int total = clients * queriesPerClient;

    ClientCrowd crowd(proxy.ports().plain, clients, queriesPerClient);
    crowd.start();
    QVERIFY2(awaitEveryReply(crowd, total),
             qPrintable(QStringLiteral("%1 of %2 clients connected, %3 of %4 replies")
                            .arg(crowd.connected())
                            .arg(clients)
                            .arg(crowd.received())
                            .arg(total)));
    QCOMPARE(crowd.disconnected(), 0);
    QCOMPARE(crowd.received(), total);
    const QString mismatch = crowd.mismatch(versionReply());
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QCOMPARE(versionLines, total);
}

QTEST_MAIN(TestClientLoad)
#include "TestClientLoad.moc"
