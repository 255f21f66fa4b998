#include "TlsListener.h"

#include <QSslSocket>
#include <QTimer>

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

    auto *handshakeTimer = new QTimer(socket);
    handshakeTimer->setSingleShot(true);
    connect(handshakeTimer, &QTimer::timeout, socket, &QSslSocket::abort);
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors), this,
            &TlsListener::sslErrors);
    connect(socket, &QSslSocket::encrypted, this, [this, socket, handshakeTimer] {
        // From here on the WebSocket layer owns the socket and decides when it goes.
        delete handshakeTimer;
        disconnect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        emit encrypted(socket);
    });

    handshakeTimer->start(m_handshakeTimeoutMs);
    socket->startServerEncryption();
}
