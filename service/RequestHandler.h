#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

class DeviceSimulator;
class PrintEngine;

// The outcome of one text message: the reply to send back on the asking socket, if any,
// and the action text of its log line.
struct HandledMessage
{
    std::optional<QByteArray> reply;
    QString actionText;
};

// The request protocol without sockets: parses one text message, dispatches its method
// to the print engine and builds the compact JSON reply. Given a simulator, it also takes
// the "simulate." methods and says so in the version reply.
class RequestHandler
{
public:
    explicit RequestHandler(PrintEngine &printEngine, DeviceSimulator *simulator = nullptr);

    // Never throws: every failure of the print engine becomes an action text.
    HandledMessage handleMessage(const QString &message);

private:
    struct DispatchResult
    {
        QJsonValue result;
        QString actionText;
    };

    DispatchResult dispatchRequest(const QJsonObject &request);
    DispatchResult runMethod(const QString &method, const QJsonObject &request);

    PrintEngine &m_printEngine;
    DeviceSimulator *const m_simulator;
};
