#include "AgentPorts.h"
#include "AgentProcess.h"
#include "TestClient.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

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
        return line.startsWith(QStringLiteral("Kiv3 Device Proxy(2.7)成功啟動, "));
    });
    const int serving = agent.indexOfLine([](const QString &line) {
        return line.endsWith(QStringLiteral("> 開始提供服務"));
    });
    QVERIFY2(banner >= 0 && banner < serving, qPrintable(agent.errors()));

    TestClient client;
    QVERIFY(client.connectPlain());
    const QRegularExpression accepted(QStringLiteral("與用戶端'\\(.*\\)'建立連線成功$"));
    QTRY_VERIFY2_WITH_TIMEOUT(agent.indexOfLine([&](const QString &line) {
        return accepted.match(line).hasMatch();
    }) >= 0, qPrintable(agent.errors()), kWaitMs);

    QCOMPARE(::kill(pid_t(agent.process().processId()), signalNumber), 0);
    QVERIFY2(!finished.isEmpty() || finished.wait(kWaitMs), qPrintable(agent.errors()));
    QCOMPARE(agent.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(agent.process().exitCode(), 0);
    // Written by the service while it is destroyed: the orderly shutdown ran.
    QVERIFY2(agent.errorLines().contains(QStringLiteral("關閉時尚有1條session存在")),
             qPrintable(agent.errors()));
}

QTEST_MAIN(TestAgentProcess)
#include "TestAgentProcess.moc"
