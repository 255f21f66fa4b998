#include "Endpoints.h"

#include "ClientListener.h"
#include "ClientWatch.h"
#include "ConnectionTexts.h"
#include "LogText.h"

#include <QFile>
#include <QPointer>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <functional>

namespace {

using ConnectionTexts::kHeaderTooLong;
using ConnectionTexts::kNoOriginRefused;
using ConnectionTexts::kOriginRefused;
using ConnectionTexts::kPeerCapReached;
using ConnectionTexts::kPeerCapRecovered;
using ConnectionTexts::kPeerLabel;
using ConnectionTexts::kTotalCapReached;
using ConnectionTexts::kTotalCapRecovered;
using ConnectionTexts::kTotalHeldTooLarge;

const QString kServerName = QStringLiteral("Quor-Kiv3-Device-Proxy");
const char kCertificatePath[] = ":/kvx.crt";
const char kPrivateKeyPath[] = ":/kvx.key";
const QString kDeadlineName = QStringLiteral("handshakeDeadline");
const QByteArray kEndOfHeader = QByteArrayLiteral("\r\n\r\n");
// A listener that cannot accept (out of descriptors, mostly) rests this long before it tries
// again, instead of retrying for every connection that waits.
constexpr int kAcceptRetryMs = 1000;

const QString kTicketName = QStringLiteral("connectionTicket");
// The Origin header as the client sent it, kept on the transport for the log.
const char kSentOriginProperty[] = "sentOrigin";

// Qt 5 keeps a header's value as Latin-1 and loses every character beyond it, so the log
// reads a refused origin from the request itself, as the UTF-8 that browsers send.
QString sentOrigin(const QByteArray &header)
{
    const QList<QByteArray> lines = header.split('\n');
    for (const QByteArray &line : lines) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "origin")
            return QString::fromUtf8(line.mid(colon + 1).trimmed());
    }
    return QString();
}

// Counts a connection out when it goes. It first lives with the transport socket, and from
// the WebSocket handshake on with the WebSocket: that one cuts every signal of its transport
// when it goes, and leaves the transport to be deleted by others.
class ConnectionTicket : public QObject
{
public:
    ConnectionTicket(QObject *holder, std::function<void()> onEnd)
        : QObject(holder)
        , m_onEnd(std::move(onEnd))
    {
        setObjectName(kTicketName);
    }
    ~ConnectionTicket() override { m_onEnd(); }

private:
    const std::function<void()> m_onEnd;
};

void resumeAcceptingAfterErrors(ClientListener *listener)
{
    QObject::connect(listener, &QTcpServer::acceptError, listener, [listener] {
        listener->pauseAccepting();
        QTimer::singleShot(kAcceptRetryMs, listener, &QTcpServer::resumeAccepting);
    });
}

// TLS 1.2 and later with forward secrecy and authenticated encryption only: every TLS 1.3
// suite, and of TLS 1.2 the ephemeral key exchanges with GCM or ChaCha20-Poly1305.
QList<QSslCipher> modernCiphers()
{
    QList<QSslCipher> chosen;
    const QList<QSslCipher> supported = QSslConfiguration::supportedCiphers();
    for (const QSslCipher &cipher : supported) {
        const QString encryption = cipher.encryptionMethod();
        const bool isAead = encryption.startsWith(QLatin1String("AESGCM"))
            || encryption.startsWith(QLatin1String("CHACHA20"));
        const QString exchange = cipher.keyExchangeMethod();
        const bool isEphemeral
            = exchange == QLatin1String("ECDH") || exchange == QLatin1String("DH");
        if (cipher.protocol() == QSsl::TlsV1_3 || (isAead && isEphemeral))
            chosen.append(cipher);
    }
    return chosen;
}

} // namespace

Endpoints::Endpoints(const ClientPolicy &policy, const ServiceLimits &limits,
                     const EndpointPorts &ports, QObject *parent)
    : QObject(parent)
    , m_policy(policy)
    , m_limits(limits)
    , m_ports(ports)
    , m_caps(limits.maxConnections, limits.maxConnectionsPerPeer)
    , m_budget(limits.totalBytes)
    , m_plainServer(new QWebSocketServer(kServerName, QWebSocketServer::NonSecureMode, this))
    , m_secureServer(new QWebSocketServer(kServerName, QWebSocketServer::SecureMode, this))
{
    connect(m_plainServer, &QWebSocketServer::newConnection, this,
            [this] { takePending(m_plainServer, false); });
    connect(m_secureServer, &QWebSocketServer::newConnection, this,
            [this] { takePending(m_secureServer, true); });
}

bool Endpoints::listen()
{
    const QList<QHostAddress> addresses = m_policy.listenAddresses();
    if (!listenOn(addresses.first(), false))
        return false;
    for (const QHostAddress &address : addresses.mid(1))
        listenOn(address, false);

    configureTls();
    for (const QHostAddress &address : addresses)
        listenOn(address, true);
    return true;
}

void Endpoints::close()
{
    for (ClientListener *listener : qAsConst(m_listeners)) {
        if (listener->isSecure()) {
            disconnect(listener, nullptr, this, nullptr);
            listener->close();
        }
    }
    disconnect(m_secureServer, nullptr, this, nullptr);
    for (ClientListener *listener : qAsConst(m_listeners)) {
        if (!listener->isSecure()) {
            disconnect(listener, nullptr, this, nullptr);
            listener->close();
        }
    }
    disconnect(m_plainServer, nullptr, this, nullptr);
}

EndpointPorts Endpoints::ports() const
{
    return { portOf(false), portOf(true) };
}

quint16 Endpoints::portOf(bool secure) const
{
    for (const ClientListener *listener : m_listeners) {
        if (listener->isSecure() == secure)
            return listener->serverPort();
    }
    return 0;
}

void Endpoints::measure(QWebSocket *socket)
{
    if (ClientWatch *watch = ClientWatch::of(socket))
        watch->measure();
}

QString Endpoints::peerLabel(const QAbstractSocket *socket)
{
    return tr(kPeerLabel).arg(socket->peerName(), socket->peerAddress().toString());
}

QString Endpoints::peerLabel(const QWebSocket *socket)
{
    return tr(kPeerLabel).arg(socket->peerName(), socket->peerAddress().toString());
}

// A further plain address that cannot be listened on (::1 without IPv6) leaves the endpoint
// serving on the others; a TLS address that cannot is silent. Where the system chooses the
// port, the further addresses take the one it chose for the first, so that an endpoint has
// one port on every address.
bool Endpoints::listenOn(const QHostAddress &address, bool secure)
{
    const quint16 chosen = portOf(secure);
    const quint16 port = chosen ? chosen : (secure ? m_ports.secure : m_ports.plain);
    auto *listener = new ClientListener(secure, this);
    if (!listener->listen(address, port)) {
        if (!secure)
            m_errorString = listener->errorString();
        delete listener;
        return false;
    }
    connect(listener, &ClientListener::arrived, this,
            [this, listener](QTcpSocket *socket) { onArrived(listener, socket); });
    resumeAcceptingAfterErrors(listener);
    m_listeners.append(listener);
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
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setCiphers(modernCiphers());
    m_secureServer->setSslConfiguration(configuration);
}

void Endpoints::onArrived(ClientListener *listener, QTcpSocket *socket)
{
    if (admitByCount(socket))
        startHandshake(listener, socket);
}

// A refused connection is closed before anything of it is read. The log names each
// episode of refusals once, not every connection in it.
bool Endpoints::admitByCount(QTcpSocket *socket)
{
    const QHostAddress peer = socket->peerAddress();
    const std::optional<ConnectionCaps::Refusal> refusal = m_caps.admit(peer);
    if (!refusal) {
        const QPointer<Endpoints> endpoints(this);
        new ConnectionTicket(socket, [endpoints, peer] {
            if (endpoints)
                endpoints->countOut(peer);
        });
        return true;
    }
    if (refusal->startsEpisode && refusal->cap == ConnectionCaps::Cap::Total) {
        emit message(
            tr(kTotalCapReached).arg(QString::number(m_limits.maxConnections), peerLabel(socket)));
    } else if (refusal->startsEpisode) {
        emit message(tr(kPeerCapReached)
                         .arg(peer.toString(), QString::number(m_limits.maxConnectionsPerPeer)));
    }
    socket->abort();
    socket->deleteLater();
    return false;
}

void Endpoints::countOut(const QHostAddress &peer)
{
    const QList<ConnectionCaps::EpisodeEnd> ended = m_caps.release(peer);
    for (const ConnectionCaps::EpisodeEnd &episode : ended) {
        if (episode.cap == ConnectionCaps::Cap::Total) {
            emit message(tr(kTotalCapRecovered)
                             .arg(QString::number(m_limits.maxConnections),
                                  QString::number(episode.refused)));
        } else {
            emit message(tr(kPeerCapRecovered)
                             .arg(episode.peer.toString(),
                                  QString::number(m_limits.maxConnectionsPerPeer),
                                  QString::number(episode.refused)));
        }
    }
}

// One deadline covers both handshakes, TLS and WebSocket. Until the WebSocket handshake
// completes the socket reads no more than a browser's request needs; checkHandshake runs
// before the WebSocket server looks at what arrived.
void Endpoints::startHandshake(ClientListener *listener, QTcpSocket *socket)
{
    auto *deadline = new QTimer(socket);
    deadline->setObjectName(kDeadlineName);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, &QAbstractSocket::abort);
    deadline->start(m_secureServer->handshakeTimeoutMS());

    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QObject::destroyed, this, [this, socket] { m_budget.release(socket); });
    socket->setReadBufferSize(m_limits.maxHandshakeBytes);
    connect(socket, &QIODevice::readyRead, this, [this, socket] { checkHandshake(socket); });

    if (!listener->isSecure()) {
        m_plainServer->handleConnection(socket);
        return;
    }
    auto *tls = static_cast<QSslSocket *>(socket);
    tls->setSslConfiguration(m_secureServer->sslConfiguration());
    connect(tls, QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors), this,
            &Endpoints::sslErrors);
    connect(tls, &QSslSocket::encrypted, m_secureServer,
            [this, tls] { m_secureServer->handleConnection(tls); });
    tls->startServerEncryption();
}

void Endpoints::checkHandshake(QTcpSocket *socket)
{
    const qint64 buffered = socket->bytesAvailable();
    const QByteArray arrived = socket->peek(buffered);
    const int endOfHeader = arrived.indexOf(kEndOfHeader);
    if (endOfHeader >= 0)
        socket->setProperty(kSentOriginProperty, sentOrigin(arrived.left(endOfHeader)));
    if (buffered >= m_limits.maxHandshakeBytes && endOfHeader < 0) {
        emit message(
            tr(kHeaderTooLong).arg(peerLabel(socket), QString::number(m_limits.maxHandshakeBytes)));
        m_budget.release(socket);
        socket->abort();
        return;
    }
    hold(socket, buffered);
}

// The WebSocket layer owns the socket from here on and decides when it goes.
QTcpSocket *Endpoints::takeTransport(const QWebSocket *socket, bool secure)
{
    for (ClientListener *listener : qAsConst(m_listeners)) {
        if (listener->isSecure() != secure)
            continue;
        QTcpSocket *transport = listener->socketOf(socket->peerAddress(), socket->peerPort());
        if (!transport)
            continue;
        delete transport->findChild<QTimer *>(kDeadlineName, Qt::FindDirectChildrenOnly);
        disconnect(transport, &QAbstractSocket::disconnected, transport, &QObject::deleteLater);
        disconnect(transport, &QIODevice::readyRead, this, nullptr);
        m_budget.release(transport);
        return transport;
    }
    return nullptr;
}

void Endpoints::takePending(QWebSocketServer *server, bool secure)
{
    QWebSocket *socket = server->nextPendingConnection();
    if (!socket)
        return;
    QTcpSocket *transport = takeTransport(socket, secure);
    if (transport) {
        handOver(transport, socket);
        watch(socket, transport);
    }
    if (m_policy.admits(socket->origin()))
        emit admitted(socket, secure);
    else
        refuse(socket, originSentTo(socket, transport));
}

// Should the request have gone by unseen, Qt's reading of it is all there is.
QString Endpoints::originSentTo(const QWebSocket *socket, const QTcpSocket *transport)
{
    const QVariant sent = transport ? transport->property(kSentOriginProperty) : QVariant();
    return sent.isValid() ? sent.toString() : socket->origin();
}

// The ticket goes with the WebSocket, which takes its transport along.
void Endpoints::handOver(QTcpSocket *transport, QWebSocket *socket)
{
    if (QObject *ticket = transport->findChild<QObject *>(kTicketName, Qt::FindDirectChildrenOnly))
        ticket->setParent(socket);
    connect(socket, &QObject::destroyed, transport, &QObject::deleteLater);
}

void Endpoints::watch(QWebSocket *socket, QTcpSocket *transport)
{
    auto *watch = new ClientWatch(socket, transport, m_limits);
    connect(watch, &ClientWatch::heldChanged, this,
            [this, socket](qint64 bytes) { hold(socket, bytes); });
    connect(watch, &ClientWatch::message, this, &Endpoints::message);
    connect(socket, &QObject::destroyed, this, [this, socket] { m_budget.release(socket); });
    watch->start();
}

void Endpoints::hold(QObject *holder, qint64 bytes)
{
    m_budget.hold(holder, bytes);
    settleBudget();
}

// Ending a holder can make others report what they hold; those reports only update it.
void Endpoints::settleBudget()
{
    if (m_settling)
        return;
    m_settling = true;
    while (QObject *largest = m_budget.largestPastBudget()) {
        m_budget.release(largest);
        endForBudget(largest);
    }
    m_settling = false;
}

void Endpoints::endForBudget(QObject *holder)
{
    const QString line = tr(kTotalHeldTooLarge);
    const QString total = QString::number(m_limits.totalBytes);
    if (auto *socket = qobject_cast<QWebSocket *>(holder)) {
        if (ClientWatch *watch = ClientWatch::of(socket))
            watch->endForBudget(line.arg(total, peerLabel(socket)));
    } else if (auto *socket = qobject_cast<QTcpSocket *>(holder)) {
        emit message(line.arg(total, peerLabel(socket)));
        socket->abort();
    }
}

// Refused before anything of the client is read: it is closed as a policy violation, and
// kept only until it has gone.
void Endpoints::refuse(QWebSocket *socket, const QString &sentOrigin)
{
    const QString origin = LogText::clientText(sentOrigin);
    emit message(origin.isEmpty() ? tr(kNoOriginRefused).arg(peerLabel(socket))
                                  : tr(kOriginRefused).arg(origin, peerLabel(socket)));
    socket->setParent(this);
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
}

// Compiled here rather than in a source of its own, which would parse the same headers again.
#include "moc_Endpoints.cpp"
