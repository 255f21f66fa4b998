#pragma once

#include <QList>
#include <QObject>
#include <QSslError>
#include <QString>

#include "ClientPolicy.h"
#include "DeviceFactory.h"
#include "Endpoints.h"
#include "JobFollower.h"
#include "MessageTurns.h"
#include "RequestHandler.h"
#include "ServiceLimits.h"
#include "SpoolerPrintEngine.h"

#include <memory>

class Caller;
class DeviceSimulator;
class QWebSocket;
class Reader;

// The device service: the clients that its endpoints admit, their requests, and the card
// reader and caller-ID box whose events go to every client.
class DevProxy : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 kPlainPort = Endpoints::kPlainPort;
    static constexpr quint16 kSecurePort = Endpoints::kSecurePort;
    // Larger messages and frames are refused by the socket instead of being buffered. Parsing
    // costs about twenty times a message's size in memory; every print bound fits well within.
    static constexpr quint64 kMaxIncomingBytes = ServiceLimits::kMessageBytes;

    // The print engine is the system's spooler and the devices are the machine's own
    // unless stand-ins are given; every client is admitted unless a policy says otherwise,
    // within the limits that fit this process.
    explicit DevProxy(QObject *parent,
                      std::unique_ptr<PrintEngine> printEngine
                      = std::make_unique<SpoolerPrintEngine>(),
                      std::unique_ptr<DeviceFactory> devices = std::make_unique<DeviceFactory>(),
                      ClientPolicy policy = ClientPolicy(),
                      const ServiceLimits &limits = ServiceLimits::forThisProcess());
    ~DevProxy() override;

    // Label of the attached card reader, or a null string while none is attached.
    QString readerLabel() const;
    // Asks the card reader to give up its port and try the next one.
    void detachReader();
    // What drives the devices when they are simulated; null for real devices.
    DeviceSimulator *simulator() const;

signals:
    void message(QString text);

private slots:
    void onNewConnection(QWebSocket *socket, bool secure);
    void onSslErrors(const QList<QSslError> &errors);
    void processTextMessage(QString message);
    void socketDisconnected();
    void onreader();
    void onunreader();
    void oncard(long long snr);
    void oncallin(const QString &number);

private:
    void startDevices(QObject *parent);
    void releaseDevices();
    static QString readerMessage(const QString &label);
    void handleMessage(QWebSocket *socket, const QString &client, const QString &message);
    void cutOffForWaitingMessages(QWebSocket *socket);
    void broadcast(const QString &text);
    // Sends one text; a connection whose peer has stopped reading is cut.
    void sendTo(QWebSocket *socket, const QString &text);
    void sendJobEvent(QObject *client, const QString &text);

    Endpoints *m_endpoints = nullptr;
    QList<QWebSocket *> m_clients;
    Reader *m_reader = nullptr;
    Caller *m_caller = nullptr;
    std::unique_ptr<PrintEngine> m_printEngine;
    RequestHandler m_requests;
    MessageTurns m_turns;
    JobFollower m_jobs;
    const std::unique_ptr<DeviceFactory> m_devices;
};
