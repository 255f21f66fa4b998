#include "AgentPorts.h"
#include "AgentProcess.h"
#include "TestClient.h"

#include <QTest>

#include <memory>
#include <vector>

namespace {

constexpr int kMostClients = 200;
constexpr int kStuckWaitMs = 3000;
constexpr int kRecoveryWaitMs = 15000;

bool connectsWithin(TestClient &client, int milliseconds)
{
    return QTest::qWaitFor(
        [&] { return client.socket().state() == QAbstractSocket::ConnectedState; }, milliseconds);
}

} // namespace

class TestAcceptRecovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void endpointAcceptsAgainAfterRunningOutOfDescriptors_data();
    void endpointAcceptsAgainAfterRunningOutOfDescriptors();
};

void TestAcceptRecovery::initTestCase()
{
    KIV3_REQUIRE_FREE_AGENT_PORTS();
}

// Limits the agent cannot raise, as its hard limit is the same.
void TestAcceptRecovery::endpointAcceptsAgainAfterRunningOutOfDescriptors_data()
{
    QTest::addColumn<QString>("descriptorLimit");
    // Half of 64 is the connection cap, reached while descriptors are left.
    QTest::newRow("cap reached first") << QStringLiteral("--nofile=64:64");
    // The agent's own files take most of 40, so accepting runs out below the cap of 20.
    QTest::newRow("descriptors run out first") << QStringLiteral("--nofile=40:40");
}

// A listener that hits the descriptor limit pauses accepting, and one at the cap refuses
// at once; either way the clients already connected are served, and the agent accepts again
// once connections are gone, or a burst of clients would switch it off.
void TestAcceptRecovery::endpointAcceptsAgainAfterRunningOutOfDescriptors()
{
    QFETCH(QString, descriptorLimit);
    AgentProcess agent;
    QVERIFY2(agent.startServing({ QStringLiteral("prlimit"), descriptorLimit }),
             qPrintable(agent.errors()));

    std::vector<std::unique_ptr<TestClient>> connected;
    auto waiting = std::make_unique<TestClient>();
    for (int i = 0; i < kMostClients; ++i) {
        waiting->open(QUrl(QStringLiteral("ws://127.0.0.1:54389")));
        if (!connectsWithin(*waiting, kStuckWaitMs))
            break;
        connected.push_back(std::move(waiting));
        waiting = std::make_unique<TestClient>();
    }
    QVERIFY2(connected.size() < size_t(kMostClients), "the agent never ran out of descriptors");
    QVERIFY(!connected.empty());
    TestClient &first = *connected.front();
    first.socket().sendTextMessage(QString());
    QVERIFY(QTest::qWaitFor([&] { return !first.received().isEmpty(); }, kRecoveryWaitMs));

    for (auto &client : connected)
        QVERIFY(client->closeAndWait());
    // A client refused at the cap is gone; one waiting for accept is taken up.
    if (waiting->socket().state() != QAbstractSocket::ConnectedState
        && !connectsWithin(*waiting, kStuckWaitMs)) {
        waiting = std::make_unique<TestClient>();
        waiting->open(QUrl(QStringLiteral("ws://127.0.0.1:54389")));
    }
    QVERIFY2(connectsWithin(*waiting, kRecoveryWaitMs), qPrintable(agent.errors()));
    QVERIFY(waiting->closeAndWait());

    agent.process().terminate();
    QVERIFY(agent.process().waitForFinished(kRecoveryWaitMs));
    QCOMPARE(agent.process().exitCode(), 0);
}

QTEST_MAIN(TestAcceptRecovery)
#include "TestAcceptRecovery.moc"
