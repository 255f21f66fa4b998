#pragma once

#include <QList>
#include <QWebSocketServer>

class QWebSocket;

// The baseline for the agent's events: a bare QWebSocketServer that sends a card message
// to every client it holds.
class BroadcastServer
{
public:
    BroadcastServer();
    ~BroadcastServer();

    quint16 port() const { return m_server.serverPort(); }
    void broadcastCard(long long card);

private:
    void accept();

    QWebSocketServer m_server;
    QList<QWebSocket *> m_clients;
};
