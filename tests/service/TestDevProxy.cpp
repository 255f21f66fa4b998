#include "DebugCapture.h"
#include "DevProxy.h"
#include "EStartFailed.h"
#include "FakeAD101.h"
#include "InProcessConfig.h"
#include "LogFormats.h"
#include "ServiceTexts.h"
#include "TestClient.h"
#include "TestDeviceFactory.h"

#include <QSignalSpy>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocketServer>

#include <memory>
#include <vector>

namespace {

constexpr int kSlowWaitMs = 20000;
const QString kClosingDebugLine = QStringLiteral("關閉時尚有%1條session存在");

QStringList texts(const QSignalSpy &spy)
{
    QStringList lines;
    for (const QList<QVariant> &arguments : spy)
        lines.append(arguments.first().toString());
    return lines;
}

int countStartingWith(const QStringList &lines, const QString &prefix)
{
    int count = 0;
    for (const QString &line : lines)
        count += line.startsWith(prefix) ? 1 : 0;
    return count;
}

// The connections the service still holds, accepted or in a handshake. An accepted
// WebSocket has no parent, but its transport socket stays in the listener's tree and
// goes with it; a TLS socket's own inner socket is not counted twice.
int liveSockets(const DevProxy &proxy)
{
    int count = 0;
    for (const QAbstractSocket *socket : proxy.findChildren<QAbstractSocket *>())
        count += qobject_cast<QAbstractSocket *>(socket->parent()) ? 0 : 1;
    return count;
}

// The service on a machine without serial ports and with a caller-ID box that opens
// quietly, so that its log holds only what the connections write.
class QuietDevProxy : public DevProxy
{
public:
    explicit QuietDevProxy(const AgentConfig &config = inProcessConfig())
        : DevProxy(nullptr, std::make_unique<SpoolerPrintEngine>(),
                   std::make_unique<TestDeviceFactory>(), config)
    {
    }
};

// A port that nothing listens on now, to see whether something listens on it later.
quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

QString listenErrorOnTakenPort(quint16 port)
{
    QWebSocketServer probe(QStringLiteral("probe"), QWebSocketServer::NonSecureMode);
    probe.listen(QHostAddress::Any, port);
    return probe.errorString();
}

} // namespace

class TestDevProxy : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void clientArrivalAndDepartureAreLogged_data();
    void clientArrivalAndDepartureAreLogged();
    void tlsHandshakeCompletesWithTheCompiledInCertificate_data();
    void tlsHandshakeCompletesWithTheCompiledInCertificate();
    void plainPortTakenThrowsTheListenerErrorAndStartsNothingElse();
    void tlsPortTakenLeavesThePlainEndpointServingSilently();
    void destroyingWithClientsReportsTheirCountAndDropsThem();
    void destroyingWithoutClientsWritesNothing();
    void failedHandshakesNeverBecomeClients();
    void silentPeersAreDroppedAtTheHandshakeDeadline();
    void fiveHundredClientsAreAcceptedAndReleased();
};

void TestDevProxy::init()
{
    fakeAD101().reset();
}

void TestDevProxy::clientArrivalAndDepartureAreLogged_data()
{
    QTest::addColumn<bool>("secure");
    QTest::addColumn<QString>("acceptedText");
    QTest::newRow("plain") << false << QStringLiteral("與用戶端'(%1)'建立連線成功");
    QTest::newRow("tls") << true << QStringLiteral("與用戶端'(%1)'建立加密連線成功");
}

void TestDevProxy::clientArrivalAndDepartureAreLogged()
{
    QFETCH(bool, secure);
    QFETCH(QString, acceptedText);
    DebugCapture debug;
    {
        QuietDevProxy proxy;
        QSignalSpy log(&proxy, &DevProxy::message);
        TestClient client;
        QVERIFY(secure ? client.connectSecure(proxy.ports().secure)
                       : client.connectPlain(proxy.ports().plain));
        QTRY_COMPARE(log.size(), 1);

        // The dual-stack listener sees an IPv4 peer in its mapped form; the label is
        // whatever the socket reports, with an empty peer name.
        const QString label = log.first().first().toString().section('(', 1).section(')', 0, 0);
        QVERIFY(label.endsWith(QLatin1String("127.0.0.1")));
        QCOMPARE(texts(log), QStringList { acceptedText.arg(label) });

        QVERIFY(client.closeAndWait());
        QTRY_COMPARE(log.size(), 2);
        QCOMPARE(log.at(1).first().toString(), QStringLiteral("與用戶端'(%1)'連線結束").arg(label));
        QTRY_COMPARE(liveSockets(proxy), 0);
    }
    QCOMPARE(debug.lines(), QStringList {});
}

void TestDevProxy::tlsHandshakeCompletesWithTheCompiledInCertificate_data()
{
    QTest::addColumn<int>("protocol");
    QTest::newRow("TLS 1.2") << int(QSsl::TlsV1_2);
    QTest::newRow("TLS 1.3") << int(QSsl::TlsV1_3);
}

// The client verifies the agent against the certificate read from the resources, for the
// name localhost: this fails unless certificate and key really are compiled in and match.
void TestDevProxy::tlsHandshakeCompletesWithTheCompiledInCertificate()
{
    QFETCH(int, protocol);
    QuietDevProxy proxy;
    QSignalSpy log(&proxy, &DevProxy::message);
    TestClient client;
    QVERIFY(client.connectSecure(proxy.ports().secure, QSsl::SslProtocol(protocol)));
    QVERIFY(client.sslErrors().isEmpty());
    QTRY_COMPARE(log.size(), 1);
    QVERIFY(log.first().first().toString().endsWith(
        textAfterArguments(ServiceTexts::kConnectedSecurely)));
    QVERIFY(client.closeAndWait());
    QTRY_COMPARE(log.size(), 2);
}

void TestDevProxy::plainPortTakenThrowsTheListenerErrorAndStartsNothingElse()
{
    QTcpServer squatter;
    QVERIFY(squatter.listen(QHostAddress::Any, 0));
    AgentConfig config = inProcessConfig();
    config.ports = { squatter.serverPort(), unusedPort() };
    const QString expectedReason = listenErrorOnTakenPort(config.ports.plain);
    QVERIFY(!expectedReason.isEmpty());

    const auto ports = std::make_shared<NoSerialPorts>();
    try {
        DevProxy proxy(nullptr, std::make_unique<SpoolerPrintEngine>(),
                       std::make_unique<TestDeviceFactory>(ports), config);
        QFAIL("the service started on a taken port");
    } catch (const EStartFailed &failure) {
        QCOMPARE(failure.reason, expectedReason);
    }
    // No caller-ID box was opened or released, and no reader thread looked for ports.
    QCOMPARE(fakeAD101().initDeviceCalls(), 0);
    QCOMPARE(fakeAD101().freeDeviceCalls(), 0);
    QTest::qWait(100);
    QCOMPARE(ports->enumerations(), 0);
    QTcpServer tlsPortCheck;
    QVERIFY2(tlsPortCheck.listen(QHostAddress::Any, config.ports.secure),
             "the TLS endpoint was left listening after a failed start");
}

void TestDevProxy::tlsPortTakenLeavesThePlainEndpointServingSilently()
{
    QTcpServer squatter;
    QVERIFY(squatter.listen(QHostAddress::Any, 0));
    AgentConfig config = inProcessConfig();
    config.ports.secure = squatter.serverPort();

    QuietDevProxy proxy(config);
    QSignalSpy log(&proxy, &DevProxy::message);
    TestClient client;
    QVERIFY(client.connectPlain(proxy.ports().plain));
    QTRY_COMPARE(log.size(), 1);
    QVERIFY(log.first().first().toString().endsWith(textAfterArguments(ServiceTexts::kConnected)));

    // A TLS client reaches the other program, never the service.
    QSignalSpy squatterConnections(&squatter, &QTcpServer::newConnection);
    QTcpSocket tlsAttempt;
    tlsAttempt.connectToHost(QHostAddress::LocalHost, squatter.serverPort());
    QVERIFY(squatterConnections.wait(5000));
    QTest::qWait(200);
    QCOMPARE(log.size(), 1);
}

void TestDevProxy::destroyingWithClientsReportsTheirCountAndDropsThem()
{
    TestClient plain;
    TestClient secure;
    DebugCapture debug;
    {
        QuietDevProxy proxy;
        QSignalSpy log(&proxy, &DevProxy::message);
        QVERIFY(plain.connectPlain(proxy.ports().plain));
        QVERIFY(secure.connectSecure(proxy.ports().secure));
        QTRY_COMPARE(log.size(), 2);
        QCOMPARE(liveSockets(proxy), 2);
    }
    QCOMPARE(debug.lines(), QStringList { kClosingDebugLine.arg(2) });
    QTRY_COMPARE(plain.socket().state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(secure.socket().state(), QAbstractSocket::UnconnectedState);
}

void TestDevProxy::destroyingWithoutClientsWritesNothing()
{
    DebugCapture debug;
    {
        QuietDevProxy proxy;
    }
    QCOMPARE(debug.lines(), QStringList {});
}

// Peers that never finish a WebSocket handshake must not appear as clients, must not
// leave socket objects behind, and must not keep the service from serving others.
void TestDevProxy::failedHandshakesNeverBecomeClients()
{
    QuietDevProxy proxy;
    QSignalSpy log(&proxy, &DevProxy::message);

    QTcpSocket plainGarbage;
    plainGarbage.connectToHost(QHostAddress::LocalHost, proxy.ports().plain);
    QVERIFY(plainGarbage.waitForConnected(5000));
    plainGarbage.write("NOT A HANDSHAKE\r\n\r\n\x01\x02\x03");

    QTcpSocket tlsGarbage;
    tlsGarbage.connectToHost(QHostAddress::LocalHost, proxy.ports().secure);
    QVERIFY(tlsGarbage.waitForConnected(5000));
    tlsGarbage.write(QByteArray(512, '\x16'));

    QTcpSocket halfHandshake;
    halfHandshake.connectToHost(QHostAddress::LocalHost, proxy.ports().plain);
    QVERIFY(halfHandshake.waitForConnected(5000));
    halfHandshake.write("GET / HTTP/1.1\r\nHost: localhost\r\nUpgr");
    QVERIFY(halfHandshake.waitForBytesWritten(5000));
    halfHandshake.abort();

    QSslSocket tlsThenGarbage;
    tlsThenGarbage.setPeerVerifyMode(QSslSocket::VerifyNone);
    QSignalSpy encrypted(&tlsThenGarbage, &QSslSocket::encrypted);
    tlsThenGarbage.connectToHostEncrypted(QStringLiteral("localhost"), proxy.ports().secure);
    QVERIFY(encrypted.wait(5000));
    tlsThenGarbage.write("NOT A HANDSHAKE\r\n\r\n");

    QSslSocket tlsHalfway;
    tlsHalfway.setPeerVerifyMode(QSslSocket::VerifyNone);
    tlsHalfway.connectToHostEncrypted(QStringLiteral("localhost"), proxy.ports().secure);
    QVERIFY(tlsHalfway.waitForConnected(5000));
    tlsHalfway.abort();

    TestClient client;
    QVERIFY(client.connectPlain(proxy.ports().plain));
    QTRY_COMPARE(log.size(), 1);
    QVERIFY(log.first().first().toString().endsWith(textAfterArguments(ServiceTexts::kConnected)));

    QTRY_COMPARE_WITH_TIMEOUT(plainGarbage.state(), QAbstractSocket::UnconnectedState, kSlowWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(tlsGarbage.state(), QAbstractSocket::UnconnectedState, kSlowWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(tlsThenGarbage.state(), QAbstractSocket::UnconnectedState,
                              kSlowWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(liveSockets(proxy), 1, kSlowWaitMs);
    QCOMPARE(countStartingWith(texts(log), textBeforeArguments(ServiceTexts::kConnected)), 1);
    QVERIFY(client.closeAndWait());
    QTRY_COMPARE(liveSockets(proxy), 0);
}

// A peer that connects and never finishes its handshake must not hold a socket for
// ever, on either endpoint; a client whose handshake completed is never cut off by it.
void TestDevProxy::silentPeersAreDroppedAtTheHandshakeDeadline()
{
    QuietDevProxy proxy;
    QSignalSpy log(&proxy, &DevProxy::message);

    TestClient client;
    QVERIFY(client.connectSecure(proxy.ports().secure));
    QTcpSocket silentPlain;
    silentPlain.connectToHost(QHostAddress::LocalHost, proxy.ports().plain);
    QSslSocket silentTls;
    silentTls.setPeerVerifyMode(QSslSocket::VerifyNone);
    QSignalSpy encrypted(&silentTls, &QSslSocket::encrypted);
    silentTls.connectToHostEncrypted(QStringLiteral("localhost"), proxy.ports().secure);
    QVERIFY(encrypted.wait(5000));
    QTRY_COMPARE(liveSockets(proxy), 3);

    QTRY_COMPARE_WITH_TIMEOUT(silentPlain.state(), QAbstractSocket::UnconnectedState, kSlowWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(silentTls.state(), QAbstractSocket::UnconnectedState, kSlowWaitMs);
    QTRY_COMPARE(liveSockets(proxy), 1);
    QTest::qWait(1000);
    QCOMPARE(client.socket().state(), QAbstractSocket::ConnectedState);
    QCOMPARE(log.size(), 1);
    QVERIFY(client.closeAndWait());
}

void TestDevProxy::fiveHundredClientsAreAcceptedAndReleased()
{
    constexpr int kClients = 500;
    DebugCapture debug;
    QuietDevProxy proxy;
    QSignalSpy log(&proxy, &DevProxy::message);

    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<TestClient>());
        clients.back()->open(TestClient::plainUrl(proxy.ports().plain));
    }
    for (auto &client : clients)
        QVERIFY(client->waitConnected());
    QTRY_COMPARE_WITH_TIMEOUT(log.size(), kClients, kSlowWaitMs);
    QCOMPARE(countStartingWith(texts(log), textBeforeArguments(ServiceTexts::kConnected)),
             kClients);
    QCOMPARE(liveSockets(proxy), kClients);

    for (auto &client : clients)
        client->socket().close();
    QTRY_COMPARE_WITH_TIMEOUT(log.size(), 2 * kClients, kSlowWaitMs);
    QTRY_COMPARE(liveSockets(proxy), 0);
    clients.clear();
    QCOMPARE(debug.lines(), QStringList {});
}

QTEST_MAIN(TestDevProxy)
#include "TestDevProxy.moc"
