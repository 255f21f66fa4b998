#pragma once

#include <QTcpServer>

class QTcpSocket;

// Accepts an endpoint's TCP connections and hands each on at once as a socket of the
// endpoint's kind, plain or TLS (its handshake not yet started), parented to the listener.
// The endpoints decide from there: which to refuse, how long a handshake may take, how much
// of it to hold.
class ClientListener : public QTcpServer
{
    Q_OBJECT

public:
    ClientListener(bool secure, QObject *parent);

    bool isSecure() const { return m_secure; }
    // The socket of this listener that carries the given peer's connection, if any.
    QTcpSocket *socketOf(const QHostAddress &peerAddress, quint16 peerPort) const;

signals:
    void arrived(QTcpSocket *socket);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    const bool m_secure;
};
