#pragma once

#include "ClientPolicy.h"
#include "ConnectionCaps.h"
#include "MemoryBudget.h"
#include "ServiceLimits.h"

#include <QList>
#include <QObject>
#include <QSslError>
#include <QString>

class ClientListener;
class QAbstractSocket;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

// The ports of the two endpoints; where one is 0 the system chooses a free port for it.
struct EndpointPorts
{
    quint16 plain = 54389;
    quint16 secure = 54390;
};

// The service's two WebSocket endpoints, plain and TLS, on every address the policy names,
// with the compiled-in certificate. They keep what clients can take within the limits:
// connections past the caps are refused as they arrive, handshakes are bounded in size and
// time, and every connection is watched for its memory, its silence and its frames. Clients
// that the policy refuses are closed here; every other one is handed on through `admitted`.
class Endpoints : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 kPlainPort = EndpointPorts().plain;
    static constexpr quint16 kSecurePort = EndpointPorts().secure;

    explicit Endpoints(const ClientPolicy &policy, const ServiceLimits &limits = ServiceLimits(),
                       const EndpointPorts &ports = EndpointPorts(), QObject *parent = nullptr);

    // The plain endpoint must listen on the first of the policy's addresses: false, with
    // errorString() telling why, if it cannot, and then nothing else is tried. Every other
    // address, and the whole TLS endpoint, serves where it can.
    bool listen();
    QString errorString() const { return m_errorString; }
    // Stops listening, TLS endpoint first; nothing is handed on afterwards.
    void close();
    // The ports listened on, as chosen where the system chose them; 0 for an endpoint that
    // listens nowhere.
    EndpointPorts ports() const;

    // To be called after writing to an admitted socket: ends it if it now holds too much.
    void measure(QWebSocket *socket);

    // A client as the log names it: "%1(%2)" of its peer name and address.
    static QString peerLabel(const QAbstractSocket *socket);
    static QString peerLabel(const QWebSocket *socket);

signals:
    // The receiver takes the socket over.
    void admitted(QWebSocket *socket, bool secure);
    void sslErrors(const QList<QSslError> &errors);
    // Log lines about refused and ended clients.
    void message(const QString &text);

private:
    bool listenOn(const QHostAddress &address, bool secure);
    quint16 portOf(bool secure) const;
    void configureTls();
    void onArrived(ClientListener *listener, QTcpSocket *socket);
    bool admitByCount(QTcpSocket *socket);
    void countOut(const QHostAddress &peer);
    void startHandshake(ClientListener *listener, QTcpSocket *socket);
    void checkHandshake(QTcpSocket *socket);
    QTcpSocket *takeTransport(const QWebSocket *socket, bool secure);
    void takePending(QWebSocketServer *server, bool secure);
    void handOver(QTcpSocket *transport, QWebSocket *socket);
    void watch(QWebSocket *socket, QTcpSocket *transport);
    void hold(QObject *holder, qint64 bytes);
    void settleBudget();
    void endForBudget(QObject *holder);
    static QString originSentTo(const QWebSocket *socket, const QTcpSocket *transport);
    // Names the origin as the client sent it.
    void refuse(QWebSocket *socket, const QString &sentOrigin);

    const ClientPolicy m_policy;
    const ServiceLimits m_limits;
    const EndpointPorts m_ports;
    ConnectionCaps m_caps;
    MemoryBudget m_budget;
    // Run the WebSocket handshakes on the sockets that the listeners accept.
    QWebSocketServer *m_plainServer = nullptr;
    QWebSocketServer *m_secureServer = nullptr;
    // The first listens on the policy's first address, the others on the further ones.
    QList<ClientListener *> m_listeners;
    QString m_errorString;
    bool m_settling = false;
};
