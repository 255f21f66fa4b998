#include "EchoServer.h"

#include "BenchReport.h"
#include "LogView.h"

#include <QWebSocket>

EchoServer::EchoServer(QString reply, LogView *log, QString line)
    : m_server(QStringLiteral("echo"), QWebSocketServer::NonSecureMode)
    , m_reply(std::move(reply))
    , m_log(log)
    , m_line(std::move(line))
{
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        throw BenchFailed { m_server.errorString() };
    QObject::connect(&m_server, &QWebSocketServer::newConnection, &m_server, [this] { accept(); });
}

void EchoServer::accept()
{
    while (QWebSocket *socket = m_server.nextPendingConnection()) {
        QObject::connect(socket, &QWebSocket::textMessageReceived, socket, [this, socket] {
            socket->sendTextMessage(m_reply);
            if (m_log)
                m_log->log(m_line.arg(socket->peerAddress().toString()));
        });
        QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    }
}
