#include "AgentPorts.h"
#include "AgentProcess.h"
#include "AppTexts.h"
#include "LogFormats.h"
#include "ServiceTexts.h"
#include "TestClient.h"
#include "VersionReply.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QWebSocketServer>

#include <csignal>
#include <sys/types.h>

namespace {

constexpr int kWaitMs = 20000;

} // namespace

class TestAgentProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void terminationSignalShutsDownInOrder_data();
    void terminationSignalShutsDownInOrder();
    void secondAgentOnTakenPortsEndsAtOnce();
};

void TestAgentProcess::initTestCase()
{
    qRegisterMetaType<QProcess::ExitStatus>();
    KIV3_REQUIRE_FREE_AGENT_PORTS();
}

void TestAgentProcess::terminationSignalShutsDownInOrder_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestAgentProcess::terminationSignalShutsDownInOrder()
{
    QFETCH(int, signalNumber);
    AgentProcess agent;
    QSignalSpy finished(&agent.process(),
                        QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    QVERIFY2(agent.startServing(), qPrintable(agent.errors()));

    const int banner = agent.indexOfLine([](const QString &line) {
        return line.startsWith(AppTexts::kBannerStart.arg(agentVersion()));
    });
    const int serving = agent.indexOfLine([](const QString &line) {
        return line.endsWith(QStringLiteral("> ") + AppTexts::kStarted);
    });
    QVERIFY2(banner >= 0 && banner < serving, qPrintable(agent.errors()));

    TestClient client;
    QVERIFY(client.connectPlain());
    QTRY_VERIFY2_WITH_TIMEOUT(agent.indexOfLine([](const QString &line) {
        return line.contains(textBeforeArguments(ServiceTexts::kConnected))
            && line.endsWith(textAfterArguments(ServiceTexts::kConnected));
    }) >= 0,
                              qPrintable(agent.errors()), kWaitMs);

    QCOMPARE(::kill(pid_t(agent.process().processId()), signalNumber), 0);
    QVERIFY2(!finished.isEmpty() || finished.wait(kWaitMs), qPrintable(agent.errors()));
    QCOMPARE(agent.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(agent.process().exitCode(), 0);
    // Written by the service while it is destroyed: the orderly shutdown ran.
    QVERIFY2(
        agent.errorLines().contains(QString::fromUtf8(ServiceTexts::kClientsLeftAtClose).arg(1)),
        qPrintable(agent.errors()));
}

// As under a service manager (offscreen): the failure must end the program, so that it can
// be started again, instead of waiting on a box that no one sees.
void TestAgentProcess::secondAgentOnTakenPortsEndsAtOnce()
{
    AgentProcess first;
    QVERIFY2(first.startServing(), qPrintable(first.errors()));
    AgentProcess second;
    second.process().start(QStringLiteral(KIV3_AGENT_PATH), QStringList());
    QVERIFY2(second.process().waitForFinished(kWaitMs), qPrintable(second.errors()));
    QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process().exitCode(), 1);
    QWebSocketServer probe(QStringLiteral("probe"), QWebSocketServer::NonSecureMode);
    QVERIFY(!probe.listen(QHostAddress::Any, 54389));
    const QString failure
        = QString::fromUtf8(AppTexts::kStartFailed).arg(probe.errorString()) + QLatin1Char('\n');
    QVERIFY2(second.errors().contains(failure), qPrintable(second.errors()));

    TestClient client;
    QVERIFY(client.connectPlain());
    client.socket().sendTextMessage(QString());
    QTRY_COMPARE_WITH_TIMEOUT(client.received().size(), 1, kWaitMs);
    QVERIFY2(first.quitCleanly(), qPrintable(first.errors()));
}

QTEST_MAIN(TestAgentProcess)
#include "TestAgentProcess.moc"
