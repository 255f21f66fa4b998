#pragma once

#include "ClientPolicy.h"

#include <QList>
#include <QObject>
#include <QSslError>
#include <QString>

class QWebSocket;
class QWebSocketServer;
class TlsListener;

// The service's two WebSocket endpoints, plain and TLS, on every address the policy names,
// with the compiled-in certificate. Clients that the policy refuses are closed here; every
// other one is handed on through `admitted`.
class Endpoints : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 kPlainPort = 54389;
    static constexpr quint16 kSecurePort = 54390;

    explicit Endpoints(const ClientPolicy &policy, QObject *parent = nullptr);

    // The plain endpoint must listen on the first of the policy's addresses: false, with
    // errorString() telling why, if it cannot, and then nothing else is tried. Every other
    // address, and the whole TLS endpoint, serves where it can.
    bool listen();
    QString errorString() const { return m_errorString; }
    // Stops listening, TLS endpoint first; nothing is handed on afterwards.
    void close();

    // A client as the log names it: "%1(%2)" of its peer name and address.
    static QString peerLabel(const QWebSocket *socket);

signals:
    // The receiver takes the socket over.
    void admitted(QWebSocket *socket, bool secure);
    void sslErrors(const QList<QSslError> &errors);
    // Log lines about refused clients.
    void message(const QString &text);

private:
    bool listenPlain(const QHostAddress &address);
    void configureTls();
    void listenSecure(const QHostAddress &address);
    void takePending(QWebSocketServer *server, bool secure);
    void refuse(QWebSocket *socket);

    const ClientPolicy m_policy;
    // The first listens on the policy's first address, the others on the further ones.
    QList<QWebSocketServer *> m_plainServers;
    // Takes the TLS endpoint's connections, already encrypted by the TLS listeners.
    QWebSocketServer *m_secureServer = nullptr;
    QList<TlsListener *> m_tlsListeners;
    QString m_errorString;
};
