#include "ClientWatch.h"

#include "ConnectionTexts.h"
#include "Endpoints.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <QWebSocket>

#include <algorithm>

namespace {

using ConnectionTexts::kNoPong;
using ConnectionTexts::kUnfinishedTooLong;
using ConnectionTexts::kUnmaskedFrame;
using ConnectionTexts::kUnreadTooLarge;

// The longest frame header a client sends: 2 bytes, 8 of length, 4 of mask.
constexpr qint64 kLargestFrameHeader = 14;
// How long a closed connection may take to send its close frame to a peer that reads.
constexpr int kCloseGraceMs = 2000;

} // namespace

ClientWatch::ClientWatch(QWebSocket *socket, QTcpSocket *transport, const ServiceLimits &limits)
    : QObject(socket)
    , m_socket(socket)
    , m_transport(transport)
    , m_limits(limits)
{
    // One whole frame fits, so the socket never waits for bytes it has no room for.
    m_socket->setReadBufferSize(m_limits.maxIncomingBytes + kLargestFrameHeader);

    // Connected after the socket's own reading, which is queued: this sees each arrival
    // before the socket parses it, and afterProcessing runs after.
    connect(m_transport, &QIODevice::readyRead, this, &ClientWatch::onReadyRead);
    connect(m_transport, &QIODevice::bytesWritten, this, &ClientWatch::measure);
    if (auto *tls = qobject_cast<QSslSocket *>(transport))
        connect(tls, &QSslSocket::encryptedBytesWritten, this, &ClientWatch::measure);
    connect(m_socket, &QWebSocket::textFrameReceived, this,
            [this](const QString &frame, bool isLastFrame) {
                onFrame(frame.size(), qint64(frame.size()) * qint64(sizeof(QChar)), isLastFrame);
            });
    connect(m_socket, &QWebSocket::binaryFrameReceived, this,
            [this](const QByteArray &frame, bool isLastFrame) {
                onFrame(frame.size(), frame.size(), isLastFrame);
            });
    connect(m_socket, &QWebSocket::pong, this, &ClientWatch::restartIdleTimer);

    m_idleTimer.setSingleShot(true);
    connect(&m_idleTimer, &QTimer::timeout, this, &ClientWatch::onIdle);
}

void ClientWatch::start()
{
    restartIdleTimer();
    if (m_transport->bytesAvailable() > 0)
        onReadyRead();
}

ClientWatch *ClientWatch::of(const QWebSocket *socket)
{
    return socket->findChild<ClientWatch *>(QString(), Qt::FindDirectChildrenOnly);
}

qint64 ClientWatch::unreadBytes() const
{
    return m_transport ? m_transport->bytesAvailable() : 0;
}

qint64 ClientWatch::incomingBytes() const
{
    return unreadBytes() + m_unfinishedBytes;
}

qint64 ClientWatch::unsentBytes() const
{
    const auto *tls = qobject_cast<const QSslSocket *>(m_transport.data());
    return m_socket->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0);
}

void ClientWatch::measure()
{
    if (m_ended)
        return;
    // Measured as the socket measures its message limit, so that every message it takes
    // passes here too.
    if (m_unfinishedSize > m_limits.maxIncomingBytes
        || unreadBytes() > m_limits.maxIncomingBytes + kLargestFrameHeader) {
        end(QWebSocketProtocol::CloseCodeTooMuchData,
            tr(kUnfinishedTooLong)
                .arg(Endpoints::peerLabel(m_socket), QString::number(m_limits.maxIncomingBytes)));
    } else if (unsentBytes() > m_limits.maxUnsentBytes) {
        cut(tr(kUnreadTooLarge)
                .arg(Endpoints::peerLabel(m_socket), QString::number(m_limits.maxUnsentBytes)));
    } else {
        emit heldChanged(incomingBytes() + unsentBytes());
    }
}

void ClientWatch::endForBudget(const QString &logLine)
{
    if (incomingBytes() >= unsentBytes())
        end(QWebSocketProtocol::CloseCodeTooMuchData, logLine);
    else
        cut(logLine);
}

// Only the bytes that arrived since the socket last parsed are new to the scan.
void ClientWatch::onReadyRead()
{
    restartIdleTimer();
    const qint64 available = m_transport->bytesAvailable();
    const qint64 arrived = available - m_scanned;
    const qint64 payload = std::min(arrived, m_scan.payloadAhead());
    m_scan.skipPayload(payload);
    if (arrived > payload) {
        const QByteArray buffered = m_transport->peek(available);
        m_scan.feed(buffered.constData() + m_scanned + payload, arrived - payload);
    }
    m_scanned = available;
    if (m_scan.foundUnmasked()) {
        end(QWebSocketProtocol::CloseCodeProtocolError,
            tr(kUnmaskedFrame).arg(Endpoints::peerLabel(m_socket)));
        return;
    }
    QMetaObject::invokeMethod(this, &ClientWatch::afterProcessing, Qt::QueuedConnection);
}

void ClientWatch::afterProcessing()
{
    if (m_transport)
        m_scanned = m_transport->bytesAvailable();
    measure();
}

void ClientWatch::onFrame(qint64 size, qint64 bytes, bool isLastFrame)
{
    m_unfinishedSize = isLastFrame ? 0 : m_unfinishedSize + size;
    m_unfinishedBytes = isLastFrame ? 0 : m_unfinishedBytes + bytes;
    measure();
}

void ClientWatch::restartIdleTimer()
{
    m_pinged = false;
    m_idleTimer.start(m_limits.idleBeforePing);
}

void ClientWatch::onIdle()
{
    if (!m_pinged) {
        m_socket->ping();
        m_pinged = true;
        m_idleTimer.start(m_limits.pongWait);
        return;
    }
    end(QWebSocketProtocol::CloseCodeGoingAway, tr(kNoPong).arg(Endpoints::peerLabel(m_socket)));
}

// Closing discards what the socket has not parsed yet, so nothing more of the client is
// handled. A peer that reads gets the close frame; one that does not has its connection cut
// soon after, since the socket would otherwise wait for it forever.
void ClientWatch::end(QWebSocketProtocol::CloseCode code, const QString &logLine)
{
    if (!stop(logLine))
        return;
    m_socket->close(code);
    QWebSocket *socket = m_socket;
    QTimer::singleShot(kCloseGraceMs, socket, [socket] { socket->abort(); });
}

// For a peer that does not read: a close frame would only wait behind what it left unread.
void ClientWatch::cut(const QString &logLine)
{
    if (stop(logLine))
        m_socket->abort();
}

bool ClientWatch::stop(const QString &logLine)
{
    if (m_ended)
        return false;
    m_ended = true;
    m_idleTimer.stop();
    emit message(logLine);
    return true;
}

// Compiled here rather than in a source of its own, which would parse the same headers again.
#include "moc_ClientWatch.cpp"
