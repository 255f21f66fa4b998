#include "Endpoints.h"
#include "TestClient.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>

#include <memory>

namespace {

constexpr int kWaitMs = 15000;
// The system chooses both ports, so that the test runs beside others.
const EndpointPorts kChosenPorts { 0, 0 };
const QString kShop = QStringLiteral("https://shop.example");
const QString kDesk = QStringLiteral("http://desk.example:8080");
const QString kAnyPage = QStringLiteral("https://anyone.example");
// PEER stands for the loopback peer's label, its address in IPv4 or mapped to IPv6.
const QString kRefusedOrigin = QStringLiteral("拒絕來源'%1'的用戶端'PEER'連線");
const QString kRefusedMissing = QStringLiteral("拒絕沒有來源的用戶端'PEER'連線");

bool namesLoopbackPeer(const QString &line, const QString &text)
{
    QString pattern = QRegularExpression::escape(text);
    pattern.replace(QStringLiteral("PEER"), QStringLiteral("\\((::ffff:)?127\\.0\\.0\\.1\\)"));
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(line).hasMatch();
}

} // namespace

class TestEndpoints : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void originDecidesAdmission_data();
    void originDecidesAdmission();
    void refusedOriginIsLoggedAsSent_data();
    void refusedOriginIsLoggedAsSent();
    void chosenPortIsTheSameOnEveryAddress_data();
    void chosenPortIsTheSameOnEveryAddress();
};

void TestEndpoints::initTestCase()
{
    qRegisterMetaType<QWebSocket *>();
}

void TestEndpoints::originDecidesAdmission_data()
{
    QTest::addColumn<QStringList>("allowedOrigins");
    QTest::addColumn<bool>("allowNoOrigin");
    QTest::addColumn<bool>("secure");
    QTest::addColumn<QString>("origin");
    // Empty for a client that is admitted.
    QTest::addColumn<QString>("refusal");

    const QStringList shopAndDesk = { kShop, kDesk };
    const QString otherPort = QStringLiteral("https://shop.example:8443");
    QTest::newRow("open, any page") << QStringList() << false << false << kAnyPage << QString();
    QTest::newRow("open, no origin, wss")
        << QStringList() << false << true << QString() << QString();
    QTest::newRow("no-origin option alone opens nothing less")
        << QStringList() << true << true << kAnyPage << QString();
    QTest::newRow("allowed, ws") << shopAndDesk << false << false << kDesk << QString();
    QTest::newRow("allowed, wss") << shopAndDesk << false << true << kShop << QString();
    QTest::newRow("other page, ws")
        << shopAndDesk << false << false << kAnyPage << kRefusedOrigin.arg(kAnyPage);
    QTest::newRow("other port, wss")
        << shopAndDesk << false << true << otherPort << kRefusedOrigin.arg(otherPort);
    QTest::newRow("no origin, ws") << shopAndDesk << false << false << QString() << kRefusedMissing;
    QTest::newRow("no origin, wss") << shopAndDesk << false << true << QString() << kRefusedMissing;
    QTest::newRow("no origin allowed, ws")
        << shopAndDesk << true << false << QString() << QString();
    QTest::newRow("no origin allowed, other page, wss")
        << shopAndDesk << true << true << kAnyPage << kRefusedOrigin.arg(kAnyPage);
}

void TestEndpoints::originDecidesAdmission()
{
    QFETCH(QStringList, allowedOrigins);
    QFETCH(bool, allowNoOrigin);
    QFETCH(bool, secure);
    QFETCH(QString, origin);
    QFETCH(QString, refusal);
    ClientPolicy policy;
    policy.allowedOrigins = allowedOrigins;
    policy.allowNoOrigin = allowNoOrigin;
    Endpoints endpoints(policy, ServiceLimits(), kChosenPorts);
    QVERIFY2(endpoints.listen(), qPrintable(endpoints.errorString()));
    QSignalSpy admitted(&endpoints, &Endpoints::admitted);
    QSignalSpy lines(&endpoints, &Endpoints::message);

    TestClient client(origin);
    const bool opened = secure ? client.connectSecure(endpoints.ports().secure)
                               : client.connectPlain(endpoints.ports().plain);
    if (refusal.isEmpty()) {
        QVERIFY(opened);
        QTRY_COMPARE_WITH_TIMEOUT(admitted.size(), 1, kWaitMs);
        const std::unique_ptr<QWebSocket> socket(admitted.first().at(0).value<QWebSocket *>());
        QCOMPARE(admitted.first().at(1).toBool(), secure);
        QCOMPARE(socket->origin(), origin);
        QVERIFY(lines.isEmpty());
    } else {
        // Closed as a policy violation before anything of the client was read.
        QTRY_COMPARE_WITH_TIMEOUT(client.socket().state(), QAbstractSocket::UnconnectedState,
                                  kWaitMs);
        QCOMPARE(client.socket().closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
        QVERIFY(admitted.isEmpty());
        QCOMPARE(lines.size(), 1);
        QVERIFY2(namesLoopbackPeer(lines.first().first().toString(), refusal),
                 qPrintable(lines.first().first().toString()));
    }
    endpoints.close();
}

// Browsers send an origin as UTF-8, which Qt would read as Latin-1; a page's controls must
// not reach the log as they are.
void TestEndpoints::refusedOriginIsLoggedAsSent_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("logged");
    QTest::newRow("non-ASCII host") << QByteArray("https://\xe4\xbe\x8b\xe5\xad\x90.example")
                                    << QStringLiteral("https://例子.example");
    QTest::newRow("terminal control")
        << QByteArray("https://x.example\x1b[2J") << QStringLiteral("https://x.example\\u001b[2J");
}

void TestEndpoints::refusedOriginIsLoggedAsSent()
{
    QFETCH(QByteArray, sent);
    QFETCH(QString, logged);
    ClientPolicy policy;
    policy.allowedOrigins = QStringList { kShop };
    Endpoints endpoints(policy, ServiceLimits(), kChosenPorts);
    QVERIFY2(endpoints.listen(), qPrintable(endpoints.errorString()));
    QSignalSpy lines(&endpoints, &Endpoints::message);

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, endpoints.ports().plain);
    QVERIFY(client.waitForConnected(kWaitMs));
    client.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                 "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                 "Sec-WebSocket-Version: 13\r\nOrigin: "
                 + sent + "\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(lines.size(), 1, kWaitMs);
    QVERIFY2(namesLoopbackPeer(lines.first().first().toString(), kRefusedOrigin.arg(logged)),
             qPrintable(lines.first().first().toString()));
    endpoints.close();
}

void TestEndpoints::chosenPortIsTheSameOnEveryAddress_data()
{
    QTest::addColumn<bool>("localOnly");
    QTest::addColumn<QString>("address");
    QTest::newRow("every interface, IPv4") << false << QStringLiteral("127.0.0.1");
    QTest::newRow("local only, IPv4") << true << QStringLiteral("127.0.0.1");
    QTest::newRow("local only, IPv6") << true << QStringLiteral("::1");
}

// Where the system chooses, the further addresses listen on the port chosen for the first,
// so that the port read back reaches the endpoint on each of them.
void TestEndpoints::chosenPortIsTheSameOnEveryAddress()
{
    QFETCH(bool, localOnly);
    QFETCH(QString, address);
    QTcpServer ipv6;
    if (address.contains(QLatin1Char(':')) && !ipv6.listen(QHostAddress::LocalHostIPv6, 0))
        QSKIP("no IPv6 loopback on this machine");
    ClientPolicy policy;
    policy.localOnly = localOnly;
    Endpoints endpoints(policy, ServiceLimits(), kChosenPorts);
    QVERIFY2(endpoints.listen(), qPrintable(endpoints.errorString()));
    const EndpointPorts ports = endpoints.ports();
    QVERIFY(ports.plain != 0 && ports.secure != 0 && ports.plain != ports.secure);

    for (const quint16 port : { ports.plain, ports.secure }) {
        QTcpSocket client;
        client.connectToHost(QHostAddress(address), port);
        QVERIFY2(client.waitForConnected(kWaitMs), qPrintable(client.errorString()));
    }
    endpoints.close();
}

QTEST_MAIN(TestEndpoints)
#include "TestEndpoints.moc"
