#pragma once

#include <QSslConfiguration>
#include <QSslError>
#include <QTcpServer>

class QHostAddress;
class QSslSocket;

// Accepts the secure endpoint's TCP connections and runs the TLS handshake on each,
// handing on through `encrypted` only those that complete it. The secure WebSocket
// listener never deletes a socket whose TLS handshake fails, and starts no deadline for
// sockets handed to it, so without this a client that sends garbage, leaves
// mid-handshake or never speaks would keep a socket object forever.
class TlsListener : public QTcpServer
{
    Q_OBJECT

public:
    TlsListener(const QSslConfiguration &configuration, int handshakeTimeoutMs, QObject *parent);

    // The WebSocket handshake on this peer's connection has completed: it may stay open.
    void handshakeCompleted(const QHostAddress &peerAddress, quint16 peerPort);

signals:
    void encrypted(QSslSocket *socket);
    void sslErrors(const QList<QSslError> &errors);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    const QSslConfiguration m_configuration;
    const int m_handshakeTimeoutMs;
};
