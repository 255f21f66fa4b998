#include "RawWebSocket.h"

#include <QString>
#include <QtEndian>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace RawWebSocket {

namespace {

// One fixed key serves every frame.
const char kMask[4] = { 0x3c, 0x5a, 0x69, 0x0f };
const char kSwitching[] = "HTTP/1.1 101";
const char kHeadersEnd[] = "\r\n\r\n";

} // namespace

int connectToLoopback(quint16 port)
{
    const int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    if (descriptor < 0)
        return -1;
    const int on = 1;
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

QByteArray handshakeRequest(quint16 port)
{
    return QStringLiteral("GET / HTTP/1.1\r\nHost: 127.0.0.1:%1\r\nUpgrade: websocket\r\n"
                          "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                          "Sec-WebSocket-Version: 13\r\n\r\n")
        .arg(port)
        .toLatin1();
}

// Looks at what has arrived before taking it, so as to take no byte past the answer.
bool readHandshakeAnswer(int descriptor)
{
    char buffer[1024];
    qint64 position = 0;
    int matched = 0;
    bool switching = true;
    while (matched < 4) {
        const ssize_t peeked = ::recv(descriptor, buffer, sizeof buffer, MSG_PEEK);
        if (peeked <= 0)
            return false;
        ssize_t taken = 0;
        while (taken < peeked && matched < 4) {
            const char byte = buffer[taken++];
            if (position < qint64(sizeof kSwitching) - 1)
                switching = switching && byte == kSwitching[position];
            ++position;
            matched = byte == kHeadersEnd[matched] ? matched + 1 : (byte == kHeadersEnd[0] ? 1 : 0);
        }
        if (::recv(descriptor, buffer, size_t(taken), 0) != taken)
            return false;
    }
    return switching;
}

bool sendAll(int descriptor, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::send(descriptor, data, size_t(size), MSG_NOSIGNAL);
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

QByteArray maskedFrame(quint8 opcode, const QByteArray &payload)
{
    QByteArray frame;
    frame.append(char(0x80 | opcode));
    const int size = payload.size();
    if (size < 126) {
        frame.append(char(0x80 | size));
    } else if (size < 0x10000) {
        frame.append(char(0x80 | 126));
        char length[2];
        qToBigEndian(quint16(size), length);
        frame.append(length, 2);
    } else {
        frame.append(char(0x80 | 127));
        char length[8];
        qToBigEndian(quint64(size), length);
        frame.append(length, 8);
    }
    frame.append(kMask, 4);
    for (int i = 0; i < size; ++i)
        frame.append(char(payload[i] ^ kMask[i % 4]));
    return frame;
}

} // namespace RawWebSocket
