#include "TestClient.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {

constexpr int kHandshakeWaitMs = 15000;

QSslCertificate agentCertificate()
{
    QFile file(QStringLiteral(":/kvx.crt"));
    file.open(QIODevice::ReadOnly);
    return QSslCertificate(&file, QSsl::Pem);
}

} // namespace

TestClient::TestClient(QObject *parent)
    : TestClient(QString(), parent)
{
}

TestClient::TestClient(const QString &origin, QObject *parent)
    : QObject(parent)
    , m_socket(origin)
{
    connect(&m_socket, &QWebSocket::textMessageReceived, this,
            [this](const QString &text) { m_received.append(text); });
    connect(&m_socket, QOverload<const QList<QSslError> &>::of(&QWebSocket::sslErrors), this,
            [this](const QList<QSslError> &errors) { m_sslErrors += errors; });
}

QUrl TestClient::plainUrl(quint16 port)
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port));
}

bool TestClient::connectPlain(quint16 port)
{
    open(plainUrl(port));
    return waitConnected();
}

bool TestClient::connectSecure(quint16 port, QSsl::SslProtocol protocol)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(protocol);
    configuration.setCaCertificates({ agentCertificate() });
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    m_socket.setSslConfiguration(configuration);
    open(QUrl(QStringLiteral("wss://localhost:%1").arg(port)));
    return waitConnected();
}

void TestClient::open(const QUrl &url)
{
    m_socket.open(url);
}

bool TestClient::waitConnected()
{
    if (m_socket.state() == QAbstractSocket::ConnectedState)
        return true;
    QSignalSpy connected(&m_socket, &QWebSocket::connected);
    QSignalSpy disconnected(&m_socket, &QWebSocket::disconnected);
    QSignalSpy failed(&m_socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error));
    return QTest::qWaitFor(
               [&] { return !connected.isEmpty() || !disconnected.isEmpty() || !failed.isEmpty(); },
               kHandshakeWaitMs)
        && m_socket.state() == QAbstractSocket::ConnectedState;
}

bool TestClient::closeAndWait()
{
    if (m_socket.state() == QAbstractSocket::UnconnectedState)
        return true;
    QSignalSpy disconnected(&m_socket, &QWebSocket::disconnected);
    m_socket.close();
    return m_socket.state() == QAbstractSocket::UnconnectedState
        || disconnected.wait(kHandshakeWaitMs);
}

// Compiled here rather than in a source of its own, which would parse the same headers again.
#include "moc_TestClient.cpp"
