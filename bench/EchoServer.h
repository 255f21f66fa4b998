#pragma once

#include <QString>
#include <QWebSocketServer>

class LogView;

// A baseline for the agent's requests: a bare QWebSocketServer that answers every text
// message with one fixed reply and, given a log, writes one line per message into it: the
// line's text with %1 replaced by the client's address.
class EchoServer
{
public:
    EchoServer(QString reply, LogView *log = nullptr, QString line = QString());

    quint16 port() const { return m_server.serverPort(); }

private:
    void accept();

    QWebSocketServer m_server;
    const QString m_reply;
    LogView *const m_log;
    const QString m_line;
};
