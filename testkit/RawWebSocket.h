#pragma once

#include <QByteArray>
#include <QtGlobal>

// The client's side of WebSocket on a plain POSIX socket, for tests and benchmarks that need
// what QWebSocket hides: clients by the hundred at little cost, a connection dropped without
// a close handshake, the kernel's view of a socket. Nothing here allocates but the frames
// and the request, so a forked child may use the rest.
namespace RawWebSocket {

// A blocking TCP connection to 127.0.0.1:port, without Nagle's delay; -1 if it fails.
int connectToLoopback(quint16 port);
// The opening handshake's request for ws://127.0.0.1:port.
QByteArray handshakeRequest(quint16 port);
// Consumes the server's answer to the handshake up to its blank line and no further, so
// that the frames after it stay on the socket: true if it switched protocols.
bool readHandshakeAnswer(int descriptor);
// Writes every byte, or false once the connection has failed; never raises SIGPIPE.
bool sendAll(int descriptor, const char *data, qint64 size);
inline bool sendAll(int descriptor, const QByteArray &bytes)
{
    return sendAll(descriptor, bytes.constData(), bytes.size());
}
// A client frame, masked as the protocol requires: opcode 1 is text, 8 is close.
QByteArray maskedFrame(quint8 opcode, const QByteArray &payload);

} // namespace RawWebSocket
