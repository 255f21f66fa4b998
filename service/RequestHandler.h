#pragma once

#include "SpooledJobs.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

class DeviceSimulator;
class PrintEngine;

// The jobs of a print whose page asked for its outcome, for the page to be told how they fare.
struct JobsToFollow
{
    QString requestId;
    SpooledJobs jobs;
};

// The outcome of one text message: the reply to send back on the asking socket, if any,
// the action text of its log line, and the jobs to follow for the asking page, if any.
struct HandledMessage
{
    std::optional<QByteArray> reply;
    QString actionText;
    std::optional<JobsToFollow> follow = std::nullopt;
};

// The request protocol without sockets: parses one text message, dispatches its method
// to the print engine and builds the compact JSON reply. Given a simulator, it also takes
// the "simulate." methods and says so in the version reply. A request holding "outcome": true
// gets an object telling how it went instead of null.
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
        // Why the request failed, for pages that ask; empty when it did not.
        QString failureCode = QString();
        // The value of a successful request for pages that ask, when not the plain result.
        QJsonValue outcome = QJsonValue(QJsonValue::Undefined);
        SpooledJobs spooled = SpooledJobs();
    };

    DispatchResult dispatchRequest(const QJsonObject &request);
    DispatchResult runMethod(const QString &method, const QJsonObject &request);
    static QJsonValue outcomeOf(const DispatchResult &dispatched);

    PrintEngine &m_printEngine;
    DeviceSimulator *const m_simulator;
};
