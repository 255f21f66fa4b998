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

    // Opens ws://127.0.0.1:54389 and waits for the handshake; false on failure.
    bool connectPlain();
    // Opens wss://localhost:54390 trusting only the agent's own certificate.
    bool connectSecure(QSsl::SslProtocol protocol = QSsl::SecureProtocols);
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
