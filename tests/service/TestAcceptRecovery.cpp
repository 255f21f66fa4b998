#include "AgentPorts.h"
#include "AgentProcess.h"
#include "TestClient.h"

#include <QTest>

#include <memory>
#include <vector>

namespace {

// Low enough to run out after a few dozen clients; the agent cannot raise a hard limit.
const QString kDescriptorLimit = QStringLiteral("--nofile=64:64");
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
    void endpointAcceptsAgainAfterRunningOutOfDescriptors();
};

void TestAcceptRecovery::initTestCase()
{
    KIV3_REQUIRE_FREE_AGENT_PORTS();
}

// A listener that hits the descriptor limit stops accepting; the agent must take up
// accepting again once descriptors are free, or a burst of clients switches it off.
void TestAcceptRecovery::endpointAcceptsAgainAfterRunningOutOfDescriptors()
{
    AgentProcess agent;
    QVERIFY2(agent.startServing({QStringLiteral("prlimit"), kDescriptorLimit}),
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

    for (auto &client : connected)
        QVERIFY(client->closeAndWait());
    QVERIFY2(connectsWithin(*waiting, kRecoveryWaitMs), qPrintable(agent.errors()));
    QVERIFY(waiting->closeAndWait());

    agent.process().terminate();
    QVERIFY(agent.process().waitForFinished(kRecoveryWaitMs));
    QCOMPARE(agent.process().exitCode(), 0);
}

QTEST_MAIN(TestAcceptRecovery)
#include "TestAcceptRecovery.moc"
