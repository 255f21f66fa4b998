#include "BroadcastServer.h"

#include "BenchReport.h"

#include <QWebSocket>

BroadcastServer::BroadcastServer()
    : m_server(QStringLiteral("broadcast"), QWebSocketServer::NonSecureMode)
{
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        throw BenchFailed { m_server.errorString() };
    QObject::connect(&m_server, &QWebSocketServer::newConnection, &m_server, [this] { accept(); });
}

// A socket may report its disconnection while being deleted, which would edit the list.
BroadcastServer::~BroadcastServer()
{
    for (QWebSocket *socket : qAsConst(m_clients))
        QObject::disconnect(socket, &QWebSocket::disconnected, nullptr, nullptr);
    qDeleteAll(m_clients);
}

void BroadcastServer::accept()
{
    while (QWebSocket *socket = m_server.nextPendingConnection()) {
        m_clients.append(socket);
        QObject::connect(socket, &QWebSocket::disconnected, socket, [this, socket] {
            m_clients.removeAll(socket);
            socket->deleteLater();
        });
    }
}

void BroadcastServer::broadcastCard(long long card)
{
    const QString text = QStringLiteral("{\"card\":%1}").arg(card);
    for (QWebSocket *socket : qAsConst(m_clients))
        socket->sendTextMessage(text);
}
