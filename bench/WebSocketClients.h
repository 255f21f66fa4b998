#pragma once

#include <QByteArray>
#include <QList>

#include <chrono>
#include <vector>

// WebSocket clients on plain POSIX sockets, driven by one thread of the benchmark's own.
// Far cheaper per message than QWebSocket clients, so that what is measured is the server.
// Every call blocks; a server that does not answer within a few seconds fails it with
// BenchFailed.
class WebSocketClients
{
public:
    using Clock = std::chrono::steady_clock;

    WebSocketClients() = default;
    ~WebSocketClients();
    WebSocketClients(const WebSocketClients &) = delete;
    WebSocketClients &operator=(const WebSocketClients &) = delete;

    // Connects `count` clients, one handshake after the other, to ws://127.0.0.1:port.
    void open(quint16 port, int count);
    // Says goodbye with a close frame on every connection and closes it.
    void close();
    int size() const { return int(m_connections.size()); }

    // Sends `text` on the first connection and returns the payload of the reply.
    QByteArray exchange(const QByteArray &text);
    // One request at a time on the first connection: the round trip of each, in microseconds.
    std::vector<double> roundTrips(const QByteArray &text, int count);
    // Every connection keeps one request in flight until each has had `perClient` replies:
    // the seconds that took.
    double closedLoop(const QByteArray &text, int perClient);
    // Sends `text` `count` times on the first connection and never reads a reply.
    void sendWithoutReading(const QByteArray &text, int count);
    // Waits until every connection has received one text message: when the last one did.
    Clock::time_point awaitOneMessageEach();

private:
    struct Connection
    {
        int fd = -1;
        QByteArray received;
    };

    static Connection connectTo(quint16 port);
    static void handshake(Connection &connection, quint16 port);
    static void sendAll(const Connection &connection, const QByteArray &bytes);
    static bool receiveSome(Connection &connection);
    static QList<QByteArray> takeTextMessages(QByteArray &buffer);
    QByteArray awaitReply(Connection &connection);

    std::vector<Connection> m_connections;
};
