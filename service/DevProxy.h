#pragma once

#include <QList>
#include <QObject>
#include <QSslError>
#include <QString>

#include "RequestHandler.h"
#include "SpoolerPrintEngine.h"

#include <memory>

class QWebSocket;
class QWebSocketServer;
class TlsListener;

// The device service: both WebSocket endpoints and the open client connections.
class DevProxy : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 kPlainPort = 54389;
    static constexpr quint16 kSecurePort = 54390;

    // The print engine is the system's spooler unless a stand-in is given.
    explicit DevProxy(QObject *parent,
                      std::unique_ptr<PrintEngine> printEngine
                      = std::make_unique<SpoolerPrintEngine>());
    ~DevProxy() override;

    // Label of the attached card reader, or a null string while none is attached.
    QString readerLabel() const;
    // Asks the card reader to give up its port and try the next one.
    void detachReader();

signals:
    void message(QString text);

private slots:
    void onNewConnection();
    void onNewSslConnection();
    void onSslErrors(const QList<QSslError> &errors);
    void processTextMessage(QString message);
    void socketDisconnected();

private:
    void configureTls();
    bool listenSecure();
    void acceptConnection(QWebSocketServer *server, const char *acceptedText);

    QWebSocketServer *m_server = nullptr;
    QWebSocketServer *m_sslServer = nullptr;
    QList<QWebSocket *> m_clients;
    // Accepts and encrypts the TLS endpoint's connections for m_sslServer.
    TlsListener *m_tlsListener = nullptr;
    std::unique_ptr<PrintEngine> m_printEngine;
    RequestHandler m_requests;
};
