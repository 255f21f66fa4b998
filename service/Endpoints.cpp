#include "Endpoints.h"

#include "LogText.h"
#include "TlsListener.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

const QString kServerName = QStringLiteral("Quor-Kiv3-Device-Proxy");
const char kCertificatePath[] = ":/kvx.crt";
const char kPrivateKeyPath[] = ":/kvx.key";
// QTcpServer stops accepting for good after an accept error that it does not count as
// temporary; this is how long the endpoint rests before it accepts again.
constexpr int kAcceptRetryMs = 1000;

template<typename Listener> void resumeAcceptingAfterErrors(Listener *listener)
{
    QObject::connect(listener, &Listener::acceptError, listener, [listener] {
        QTimer::singleShot(kAcceptRetryMs, listener, &Listener::resumeAccepting);
    });
}

} // namespace

Endpoints::Endpoints(const ClientPolicy &policy, QObject *parent)
    : QObject(parent)
    , m_policy(policy)
    , m_secureServer(new QWebSocketServer(kServerName, QWebSocketServer::SecureMode, this))
{
    connect(m_secureServer, &QWebSocketServer::newConnection, this,
            [this] { takePending(m_secureServer, true); });
}

bool Endpoints::listen()
{
    const QList<QHostAddress> addresses = m_policy.listenAddresses();
    if (!listenPlain(addresses.first()))
        return false;
    for (const QHostAddress &address : addresses.mid(1))
        listenPlain(address);

    configureTls();
    for (const QHostAddress &address : addresses)
        listenSecure(address);
    return true;
}

void Endpoints::close()
{
    for (TlsListener *listener : qAsConst(m_tlsListeners)) {
        disconnect(listener, nullptr, this, nullptr);
        listener->close();
    }
    disconnect(m_secureServer, nullptr, this, nullptr);
    m_secureServer->close();
    for (QWebSocketServer *server : qAsConst(m_plainServers)) {
        disconnect(server, nullptr, this, nullptr);
        server->close();
    }
}

QString Endpoints::peerLabel(const QWebSocket *socket)
{
    return tr("%1(%2)").arg(socket->peerName(), socket->peerAddress().toString());
}

// A further address that cannot be listened on (::1 without IPv6) leaves the endpoint
// serving on the others.
bool Endpoints::listenPlain(const QHostAddress &address)
{
    auto *server = new QWebSocketServer(kServerName, QWebSocketServer::NonSecureMode, this);
    if (!server->listen(address, kPlainPort)) {
        m_errorString = server->errorString();
        delete server;
        return false;
    }
    connect(server, &QWebSocketServer::newConnection, this,
            [this, server] { takePending(server, false); });
    resumeAcceptingAfterErrors(server);
    m_plainServers.append(server);
    return true;
}

// The resources are compiled in; should they be unreadable, TLS handshakes fail and say so
// through sslErrors.
void Endpoints::configureTls()
{
    QFile certificateFile(QString::fromLatin1(kCertificatePath));
    QFile keyFile(QString::fromLatin1(kPrivateKeyPath));
    certificateFile.open(QIODevice::ReadOnly);
    keyFile.open(QIODevice::ReadOnly);
    const QSslCertificate certificate(&certificateFile, QSsl::Pem);
    const QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey, QByteArray());
    certificateFile.close();
    keyFile.close();

    QSslConfiguration configuration;
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    configuration.setProtocol(QSsl::TlsV1SslV3);
    m_secureServer->setSslConfiguration(configuration);
}

// The secure WebSocket listener takes its connections already encrypted from our own TLS
// listeners, which clean up after failed TLS handshakes. One that cannot listen is silent.
void Endpoints::listenSecure(const QHostAddress &address)
{
    auto *listener = new TlsListener(m_secureServer->sslConfiguration(),
                                     m_secureServer->handshakeTimeoutMS(), this);
    if (!listener->listen(address, kSecurePort)) {
        delete listener;
        return;
    }
    connect(listener, &TlsListener::encrypted, m_secureServer, &QWebSocketServer::handleConnection);
    connect(listener, &TlsListener::sslErrors, this, &Endpoints::sslErrors);
    resumeAcceptingAfterErrors(listener);
    m_tlsListeners.append(listener);
}

void Endpoints::takePending(QWebSocketServer *server, bool secure)
{
    QWebSocket *socket = server->nextPendingConnection();
    if (!socket)
        return;
    if (secure) {
        for (TlsListener *listener : qAsConst(m_tlsListeners))
            listener->handshakeCompleted(socket->peerAddress(), socket->peerPort());
    }
    if (m_policy.admits(socket->origin()))
        emit admitted(socket, secure);
    else
        refuse(socket);
}

// Refused before anything of the client is read: it is closed as a policy violation, and
// kept only until it has gone.
void Endpoints::refuse(QWebSocket *socket)
{
    const QString origin = LogText::clientText(socket->origin());
    emit message(origin.isEmpty()
                     ? tr("拒絕沒有來源的用戶端'%1'連線").arg(peerLabel(socket))
                     : tr("拒絕來源'%1'的用戶端'%2'連線").arg(origin, peerLabel(socket)));
    socket->setParent(this);
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
}
