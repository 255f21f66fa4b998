#include "ClientListener.h"

#include <QSslSocket>

ClientListener::ClientListener(bool secure, QObject *parent)
    : QTcpServer(parent)
    , m_secure(secure)
{
}

QTcpSocket *ClientListener::socketOf(const QHostAddress &peerAddress, quint16 peerPort) const
{
    const auto sockets = findChildren<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly);
    for (QTcpSocket *socket : sockets) {
        if (socket->peerPort() == peerPort && socket->peerAddress() == peerAddress)
            return socket;
    }
    return nullptr;
}

void ClientListener::incomingConnection(qintptr descriptor)
{
    QTcpSocket *socket = m_secure ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    emit arrived(socket);
}

// Compiled here rather than in a source of its own, which would parse the same headers again.
#include "moc_ClientListener.cpp"
