#pragma once

#include <QSslConfiguration>
#include <QSslError>
#include <QTcpServer>

class QSslSocket;

// Accepts TCP connections and runs the TLS handshake on each, handing on only those
// that complete it. The secure WebSocket listener never deletes a socket whose TLS
// handshake fails, so a client that sends garbage or leaves mid-handshake would leak
// one socket object each; here such a socket is deleted as soon as it is done.
// Encrypted sockets go on to the secure WebSocket listener through `encrypted`.
class TlsListener : public QTcpServer
{
    Q_OBJECT

public:
    TlsListener(const QSslConfiguration &configuration, int handshakeTimeoutMs, QObject *parent);

signals:
    void encrypted(QSslSocket *socket);
    void sslErrors(const QList<QSslError> &errors);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    const QSslConfiguration m_configuration;
    const int m_handshakeTimeoutMs;
};
