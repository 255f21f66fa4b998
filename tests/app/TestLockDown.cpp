#include "AgentPorts.h"
#include "AgentProcess.h"
#include "PrivateNetwork.h"
#include "TestClient.h"

#include <QRegularExpression>
#include <QTest>
#include <QUrl>

namespace {

constexpr int kWaitMs = 20000;
const QString kShop = QStringLiteral("https://shop.example");
const QString kDesk = QStringLiteral("http://desk.example:8080");
const QStringList kShopAndDesk = { "--allow-origin", kShop, "--allow-origin", kDesk };
const QString kLocalOnlyBanner = QStringLiteral("只接受本機(127.0.0.1及::1)的連線.");

// A log line that ends with `text`, its %1 standing for the label of a loopback peer.
bool hasLineWithLoopbackPeer(const AgentProcess &agent, const QString &text)
{
    const QStringList parts = text.split(QStringLiteral("%1"));
    const QRegularExpression pattern(QRegularExpression::escape(parts.first())
                                     + QStringLiteral("\\([^']*127\\.0\\.0\\.1\\)")
                                     + QRegularExpression::escape(parts.last()) + QLatin1Char('$'));
    return agent.indexOfLine([&](const QString &line) { return pattern.match(line).hasMatch(); })
        >= 0;
}

bool hasLine(const AgentProcess &agent, const QString &text)
{
    return agent.indexOfLine([&](const QString &line) { return line.trimmed() == text; }) >= 0;
}

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
    void originDecidesAdmission_data();
    void originDecidesAdmission();
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
    QTest::newRow("version") << QStringList { "--version" } << 0
                             << QStringLiteral("kiv3-device-proxy 2.7\n") << QString();
    QTest::newRow("help") << QStringList { "--local-only", "--help" } << 0
                          << QStringLiteral("  --allow-origin <ORIGIN>") << QString();
    QTest::newRow("unknown option")
        << QStringList { "--allow-orgin", kShop } << 2 << QString()
        << QStringLiteral("kiv3-device-proxy: Unknown option 'allow-orgin'.\n");
    QTest::newRow("origin without value")
        << QStringList { "--allow-origin" } << 2 << QString()
        << QStringLiteral("kiv3-device-proxy: Missing value after '--allow-origin'.\n");
    QTest::newRow("stray argument") << QStringList { kShop } << 2 << QString()
                                    << QStringLiteral("unexpected argument 'https://shop.example'");
    for (const char *origin : { "https://shop.example/", "shop.example", "https://Shop.example",
                                "https://shop.example/?q", "null" }) {
        QTest::newRow(origin) << QStringList { "--allow-origin", origin } << 2 << QString()
                              << QStringLiteral("'%1' is not an origin").arg(origin);
    }
}

void TestLockDown::wrongCommandLineEndsBeforeAnythingStarts()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(QString, errors);
    AgentProcess agent;
    agent.process().start(QStringLiteral(KIV3_AGENT_PATH), arguments);
    QVERIFY(agent.process().waitForFinished(kWaitMs));
    QCOMPARE(agent.process().exitStatus(), QProcess::NormalExit);
    QVERIFY2(agent.process().exitCode() == status, qPrintable(agent.errors()));
    const QString standardOutput = QString::fromUtf8(agent.process().readAllStandardOutput());
    QVERIFY2(standardOutput.contains(output), qPrintable(standardOutput));
    QVERIFY2(agent.errors().contains(errors), qPrintable(agent.errors()));
    QVERIFY2(!agent.errors().contains(QStringLiteral("成功啟動")), qPrintable(agent.errors()));
}

void TestLockDown::originDecidesAdmission_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("secure");
    QTest::addColumn<QString>("origin");
    QTest::addColumn<QString>("logLine");

    const QString plain = QStringLiteral("與用戶端'%1'建立連線成功");
    const QString encrypted = QStringLiteral("與用戶端'%1'建立加密連線成功");
    const QString withAnyOrigin = QStringLiteral("https://anyone.example");
    const QString refusedOrigin = QStringLiteral("拒絕來源'%1'的用戶端'%2'連線");
    const QString refusedMissing = QStringLiteral("拒絕沒有來源的用戶端'%1'連線");
    const QStringList shopDeskAndPrograms = kShopAndDesk + QStringList { "--allow-no-origin" };

    QTest::newRow("open, any page") << QStringList() << false << withAnyOrigin << plain;
    QTest::newRow("open, no origin, wss") << QStringList() << true << QString() << encrypted;
    QTest::newRow("no-origin option alone opens nothing less")
        << QStringList { "--allow-no-origin" } << true << withAnyOrigin << encrypted;
    QTest::newRow("allowed, ws") << kShopAndDesk << false << kDesk << plain;
    QTest::newRow("allowed, wss") << kShopAndDesk << true << kShop << encrypted;
    QTest::newRow("other page, ws")
        << kShopAndDesk << false << withAnyOrigin << refusedOrigin.arg(withAnyOrigin, "%1");
    QTest::newRow("other port, wss")
        << kShopAndDesk << true << QStringLiteral("https://shop.example:8443")
        << refusedOrigin.arg(QStringLiteral("https://shop.example:8443"), "%1");
    QTest::newRow("no origin, ws") << kShopAndDesk << false << QString() << refusedMissing;
    QTest::newRow("no origin, wss") << kShopAndDesk << true << QString() << refusedMissing;
    QTest::newRow("no origin allowed, ws") << shopDeskAndPrograms << false << QString() << plain;
    QTest::newRow("no origin allowed, other page, wss")
        << shopDeskAndPrograms << true << withAnyOrigin << refusedOrigin.arg(withAnyOrigin, "%1");
}

void TestLockDown::originDecidesAdmission()
{
    QFETCH(QStringList, options);
    QFETCH(bool, secure);
    QFETCH(QString, origin);
    QFETCH(QString, logLine);
    const bool admitted = logLine.startsWith(QStringLiteral("與用戶端"));
    AgentProcess agent;
    QVERIFY2(agent.startServing(QStringList(), options), qPrintable(agent.errors()));

    // The banner tells what is refused, and nothing without restrictions.
    if (options.contains(QStringLiteral("--allow-origin"))) {
        QVERIFY2(hasLine(agent, kShop) && hasLine(agent, kDesk), qPrintable(agent.errors()));
        QVERIFY2(hasLine(agent,
                         options.contains(QStringLiteral("--allow-no-origin"))
                             ? QStringLiteral("也接受沒有來源(非瀏覽器)的用戶端連線.")
                             : QStringLiteral("拒絕沒有來源(非瀏覽器)的用戶端連線.")),
                 qPrintable(agent.errors()));
    } else {
        QVERIFY2(!agent.errors().contains(QStringLiteral("接受")), qPrintable(agent.errors()));
    }

    TestClient client(origin);
    const bool opened = secure ? client.connectSecure() : client.connectPlain();
    QTRY_VERIFY2_WITH_TIMEOUT(hasLineWithLoopbackPeer(agent, logLine), qPrintable(agent.errors()),
                              kWaitMs);
    if (admitted) {
        QVERIFY(opened);
        client.socket().sendTextMessage(QString());
        QTRY_COMPARE_WITH_TIMEOUT(client.received().size(), 1, kWaitMs);
    } else {
        // Closed as a policy violation before anything of the client was read.
        QTRY_COMPARE_WITH_TIMEOUT(client.socket().state(), QAbstractSocket::UnconnectedState,
                                  kWaitMs);
        QCOMPARE(client.socket().closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
        QVERIFY2(!agent.errors().contains(QStringLiteral("連線成功")), qPrintable(agent.errors()));
    }
    QVERIFY2(agent.quitCleanly(), qPrintable(agent.errors()));
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
    QCOMPARE(agent.errors().contains(kLocalOnlyBanner), !options.isEmpty());

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
