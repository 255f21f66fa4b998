#include "WebSocketClients.h"

#include "BenchReport.h"
#include "RawWebSocket.h"

#include <QString>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kTimeoutMs = 10000;
constexpr int kReceiveChunk = 64 * 1024;

[[noreturn]] void fail(const QString &what)
{
    throw BenchFailed { QStringLiteral("%1: %2").arg(what,
                                                     QString::fromLocal8Bit(strerror(errno))) };
}

QByteArray textFrame(const QByteArray &text)
{
    return RawWebSocket::maskedFrame(0x1, text);
}

int pollOrFail(std::vector<pollfd> &fds)
{
    const int ready = ::poll(fds.data(), fds.size(), kTimeoutMs);
    if (ready < 0)
        fail(QStringLiteral("poll"));
    if (ready == 0)
        throw BenchFailed {
            QStringLiteral("the server did not answer within %1 ms").arg(kTimeoutMs)
        };
    return ready;
}

} // namespace

WebSocketClients::~WebSocketClients()
{
    for (const Connection &connection : m_connections)
        ::close(connection.fd);
}

void WebSocketClients::open(quint16 port, int count)
{
    for (int i = 0; i < count; ++i) {
        m_connections.push_back(connectTo(port));
        handshake(m_connections.back(), port);
    }
}

void WebSocketClients::close()
{
    const QByteArray goodbye = RawWebSocket::maskedFrame(0x8, QByteArray::fromHex("03e8"));
    for (const Connection &connection : m_connections) {
        ::send(connection.fd, goodbye.constData(), size_t(goodbye.size()), MSG_NOSIGNAL);
        ::close(connection.fd);
    }
    m_connections.clear();
}

WebSocketClients::Connection WebSocketClients::connectTo(quint16 port)
{
    Connection connection;
    connection.fd = RawWebSocket::connectToLoopback(port);
    if (connection.fd < 0)
        fail(QStringLiteral("connect to port %1").arg(port));
    const timeval timeout { kTimeoutMs / 1000, 0 };
    ::setsockopt(connection.fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return connection;
}

void WebSocketClients::handshake(Connection &connection, quint16 port)
{
    sendAll(connection, RawWebSocket::handshakeRequest(port));
    if (!RawWebSocket::readHandshakeAnswer(connection.fd))
        throw BenchFailed { QStringLiteral("the server refused or ended the handshake") };
}

void WebSocketClients::sendAll(const Connection &connection, const QByteArray &bytes)
{
    if (!RawWebSocket::sendAll(connection.fd, bytes))
        fail(QStringLiteral("send"));
}

// False once the server has closed the connection.
bool WebSocketClients::receiveSome(Connection &connection)
{
    char chunk[kReceiveChunk];
    const ssize_t received = ::recv(connection.fd, chunk, sizeof chunk, 0);
    if (received < 0)
        fail(QStringLiteral("receive"));
    connection.received.append(chunk, int(received));
    return received > 0;
}

// Removes the whole frames at the head of the buffer; the payloads of the text frames among
// them. The server sends every message in one unmasked frame.
QList<QByteArray> WebSocketClients::takeTextMessages(QByteArray &buffer)
{
    QList<QByteArray> messages;
    int position = 0;
    while (buffer.size() - position >= 2) {
        const auto *head = reinterpret_cast<const uchar *>(buffer.constData() + position);
        qint64 length = head[1] & 0x7f;
        int headerSize = 2;
        if (length == 126) {
            headerSize = 4;
            if (buffer.size() - position < headerSize)
                break;
            length = qFromBigEndian<quint16>(head + 2);
        } else if (length == 127) {
            headerSize = 10;
            if (buffer.size() - position < headerSize)
                break;
            length = qint64(qFromBigEndian<quint64>(head + 2));
        }
        if (buffer.size() - position < headerSize + length)
            break;
        if ((head[0] & 0x0f) == 0x1)
            messages.append(buffer.mid(position + headerSize, int(length)));
        position += headerSize + int(length);
    }
    buffer.remove(0, position);
    return messages;
}

QByteArray WebSocketClients::awaitReply(Connection &connection)
{
    for (;;) {
        const QList<QByteArray> messages = takeTextMessages(connection.received);
        if (!messages.isEmpty())
            return messages.first();
        if (!receiveSome(connection))
            throw BenchFailed { QStringLiteral("the server closed the connection") };
    }
}

QByteArray WebSocketClients::exchange(const QByteArray &text)
{
    Connection &connection = m_connections.front();
    sendAll(connection, textFrame(text));
    return awaitReply(connection);
}

std::vector<double> WebSocketClients::roundTrips(const QByteArray &text, int count)
{
    Connection &connection = m_connections.front();
    const QByteArray frame = textFrame(text);
    std::vector<double> micros;
    micros.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        const Clock::time_point start = Clock::now();
        sendAll(connection, frame);
        awaitReply(connection);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return micros;
}

void WebSocketClients::sendWithoutReading(const QByteArray &text, int count)
{
    sendAll(m_connections.front(), textFrame(text).repeated(count));
}

double WebSocketClients::closedLoop(const QByteArray &text, int perClient)
{
    const QByteArray frame = textFrame(text);
    std::vector<pollfd> fds;
    std::vector<int> remaining(m_connections.size(), perClient);
    const Clock::time_point start = Clock::now();
    for (const Connection &connection : m_connections) {
        sendAll(connection, frame);
        fds.push_back({ connection.fd, POLLIN, 0 });
    }
    size_t busy = m_connections.size();
    while (busy > 0) {
        pollOrFail(fds);
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Connection &connection = m_connections[i];
            if (!receiveSome(connection))
                throw BenchFailed { QStringLiteral("the server closed a connection") };
            remaining[i] -= takeTextMessages(connection.received).size();
            if (remaining[i] > 0) {
                sendAll(connection, frame);
            } else {
                fds[i].fd = -1;
                --busy;
            }
        }
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

WebSocketClients::Clock::time_point WebSocketClients::awaitOneMessageEach()
{
    std::vector<pollfd> fds;
    for (const Connection &connection : m_connections)
        fds.push_back({ connection.fd, POLLIN, 0 });
    Clock::time_point last;
    size_t waiting = m_connections.size();
    while (waiting > 0) {
        pollOrFail(fds);
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Connection &connection = m_connections[i];
            if (!receiveSome(connection))
                throw BenchFailed { QStringLiteral("the server closed a connection") };
            if (takeTextMessages(connection.received).isEmpty())
                continue;
            last = Clock::now();
            fds[i].fd = -1;
            --waiting;
        }
    }
    return last;
}
