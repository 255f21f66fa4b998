#include "TlsListener.h"

#include <QSslSocket>
#include <QTimer>

namespace {

const QString kDeadlineName = QStringLiteral("handshakeDeadline");

} // namespace

TlsListener::TlsListener(const QSslConfiguration &configuration, int handshakeTimeoutMs,
                         QObject *parent)
    : QTcpServer(parent)
    , m_configuration(configuration)
    , m_handshakeTimeoutMs(handshakeTimeoutMs)
{
}

void TlsListener::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setSslConfiguration(m_configuration);

    // One deadline for both handshakes, TLS and then WebSocket.
    auto *deadline = new QTimer(socket);
    deadline->setObjectName(kDeadlineName);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, &QSslSocket::abort);
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors), this,
            &TlsListener::sslErrors);
    connect(socket, &QSslSocket::encrypted, this, [this, socket] {
        // From here on the WebSocket layer owns the socket and decides when it goes.
        disconnect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        emit encrypted(socket);
    });

    deadline->start(m_handshakeTimeoutMs);
    socket->startServerEncryption();
}

void TlsListener::handshakeCompleted(const QHostAddress &peerAddress, quint16 peerPort)
{
    const auto sockets = findChildren<QSslSocket *>(QString(), Qt::FindDirectChildrenOnly);
    for (QSslSocket *socket : sockets) {
        if (socket->peerPort() == peerPort && socket->peerAddress() == peerAddress) {
            delete socket->findChild<QTimer *>(kDeadlineName, Qt::FindDirectChildrenOnly);
            return;
        }
    }
}
