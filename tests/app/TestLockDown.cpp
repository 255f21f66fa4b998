#include "AgentPorts.h"
#include "AgentProcess.h"
#include "AppTexts.h"
#include "PrivateNetwork.h"
#include "TestClient.h"
#include "VersionReply.h"

#include <QTest>
#include <QUrl>

namespace {

constexpr int kWaitMs = 20000;
const QString kShop = QStringLiteral("https://shop.example");

// Whether a WebSocket handshake completes at `url`, whatever the certificate's name.
bool handshakes(const QUrl &url)
{
    TestClient client;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    client.socket().setSslConfiguration(configuration);
    client.open(url);
    return client.waitConnected();
}

} // namespace

class TestLockDown : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void wrongCommandLineEndsBeforeAnythingStarts_data();
    void wrongCommandLineEndsBeforeAnythingStarts();
    void localOnlyServesLoopbackAlone_data();
    void localOnlyServesLoopbackAlone();

private:
    QString m_noPrivateNetwork;
};

// In a network of its own the test shares no port with other programs and has a
// non-loopback address to connect to.
void TestLockDown::initTestCase()
{
    m_noPrivateNetwork = enterPrivateNetwork();
    if (!m_noPrivateNetwork.isEmpty())
        KIV3_REQUIRE_FREE_AGENT_PORTS();
}

void TestLockDown::wrongCommandLineEndsBeforeAnythingStarts_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("errors");
    const QString version = QStringLiteral("kiv3-device-proxy %1\n").arg(agentVersion());
    QTest::newRow("version") << QStringList { "--version" } << 0 << version << QString();
    QTest::newRow("toolkit's own option passed over")
        << QStringList { "-platform", "offscreen", "--version" } << 0 << version << QString();
    QTest::newRow("help") << QStringList { "--local-only", "--help" } << 0
                          << QStringLiteral("  --allow-origin <ORIGIN>") << QString();
    QTest::newRow("unknown option")
        << QStringList { "--allow-orgin", kShop } << 2 << QString()
        << QStringLiteral("kiv3-device-proxy: Unknown option 'allow-orgin'.\n");
    QTest::newRow("origin without value")
        << QStringList { "--allow-origin" } << 2 << QString()
        << QStringLiteral("kiv3-device-proxy: Missing value after '--allow-origin'.\n");
    QTest::newRow("stray argument")
        << QStringList { kShop } << 2 << QString() << AppTexts::kUnexpectedArgument.arg(kShop);
    for (const char *origin : { "https://shop.example/", "shop.example", "https://Shop.example",
                                "https://shop.example/?q", "null" }) {
        QTest::newRow(origin) << QStringList { "--allow-origin", origin } << 2 << QString()
                              << AppTexts::kNotAnOrigin.arg(origin);
    }
}

void TestLockDown::wrongCommandLineEndsBeforeAnythingStarts()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(QString, errors);
    AgentProcess agent;
    // As over SSH: no display, and no platform chosen either.
    QProcessEnvironment environment = agent.process().processEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QLatin1String(name));
    agent.process().setProcessEnvironment(environment);
    agent.process().start(QStringLiteral(KIV3_AGENT_PATH), arguments);
    QVERIFY(agent.process().waitForFinished(kWaitMs));
    QCOMPARE(agent.process().exitStatus(), QProcess::NormalExit);
    QVERIFY2(agent.process().exitCode() == status, qPrintable(agent.errors()));
    const QString standardOutput = QString::fromUtf8(agent.process().readAllStandardOutput());
    QVERIFY2(standardOutput.contains(output), qPrintable(standardOutput));
    QVERIFY2(agent.errors().contains(errors), qPrintable(agent.errors()));
    QVERIFY2(!agent.errors().contains(AppTexts::kBannerStart.arg(agentVersion())),
             qPrintable(agent.errors()));
}

void TestLockDown::localOnlyServesLoopbackAlone_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("reachable");
    QTest::addColumn<QStringList>("unreachable");
    const QStringList everyAddress = { "127.0.0.1", "[::1]", kPrivateIPv4Address,
                                       QStringLiteral("[%1]").arg(kPrivateIPv6Address) };
    QTest::newRow("every interface") << QStringList() << everyAddress << QStringList();
    QTest::newRow("local only") << QStringList { "--local-only" }
                                << QStringList(everyAddress.mid(0, 2))
                                << QStringList(everyAddress.mid(2));
}

void TestLockDown::localOnlyServesLoopbackAlone()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, reachable);
    QFETCH(QStringList, unreachable);
    if (!m_noPrivateNetwork.isEmpty())
        QSKIP(qPrintable(m_noPrivateNetwork));
    AgentProcess agent;
    QVERIFY2(agent.startServing(QStringList(), options), qPrintable(agent.errors()));
    QCOMPARE(agent.errors().contains(AppTexts::kLocalOnlyBanner), !options.isEmpty());

    for (const QString &scheme :
         { QStringLiteral("ws://%1:54389"), QStringLiteral("wss://%1:54390") }) {
        for (const QString &host : reachable)
            QVERIFY2(handshakes(QUrl(scheme.arg(host))), qPrintable(scheme.arg(host)));
        for (const QString &host : unreachable)
            QVERIFY2(!handshakes(QUrl(scheme.arg(host))), qPrintable(scheme.arg(host)));
    }
    QVERIFY2(agent.quitCleanly(), qPrintable(agent.errors()));
}

QTEST_MAIN(TestLockDown)
#include "TestLockDown.moc"
