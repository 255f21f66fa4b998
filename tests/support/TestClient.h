#pragma once

#include <QObject>
#include <QSslConfiguration>
#include <QStringList>
#include <QWebSocket>

// A page's side of a connection: a real WebSocket that records every text it receives.
class TestClient : public QObject
{
    Q_OBJECT

public:
    explicit TestClient(QObject *parent = nullptr);
    // A page of this origin; a null origin sends no Origin header, as a program does.
    explicit TestClient(const QString &origin, QObject *parent = nullptr);

    // The agent's fixed ports, where a test runs the agent program.
    static constexpr quint16 kAgentPlainPort = 54389;
    static constexpr quint16 kAgentSecurePort = 54390;

    // ws://127.0.0.1 on the port.
    static QUrl plainUrl(quint16 port);
    // Opens ws://127.0.0.1 on the port and waits for the handshake; false on failure.
    bool connectPlain(quint16 port = kAgentPlainPort);
    // Opens wss://localhost on the port trusting only the agent's own certificate.
    bool connectSecure(quint16 port = kAgentSecurePort,
                       QSsl::SslProtocol protocol = QSsl::SecureProtocols);
    void open(const QUrl &url);
    // False as soon as the connection fails or ends.
    bool waitConnected();
    bool closeAndWait();

    QWebSocket &socket() { return m_socket; }
    const QStringList &received() const { return m_received; }
    QList<QSslError> sslErrors() const { return m_sslErrors; }

private:
    QWebSocket m_socket;
    QStringList m_received;
    QList<QSslError> m_sslErrors;
};
