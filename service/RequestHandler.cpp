#include "RequestHandler.h"

#include "AgentVersion.h"
#include "LogText.h"
#include "PrintEngine.h"
#include "PrintExceptions.h"
#include "RepeatedKeys.h"
#include "ServiceTexts.h"
#include "SimulationMethods.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {

using ServiceTexts::kInternalError;
using ServiceTexts::kInvalidJson;
using ServiceTexts::kInvalidMethod;
using ServiceTexts::kInvalidOrientation;
using ServiceTexts::kInvalidPaperSize;
using ServiceTexts::kInvalidPrinter;
using ServiceTexts::kMissingMethod;
using ServiceTexts::kNoDefaultPrinter;
using ServiceTexts::kOverLimit;
using ServiceTexts::kPrinted;
using ServiceTexts::kPrinterFailed;
using ServiceTexts::kPrintersListed;
using ServiceTexts::kVersionQueried;

const QString kGetPrintersMethod = QStringLiteral("print.getprinters");
const QString kPrintMethod = QStringLiteral("print.print");

QString tr(const char *text)
{
    return QCoreApplication::translate("DevProxy", text);
}

QByteArray compactJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Only an agent with simulated devices adds its key, so that other replies stay as they were.
QByteArray versionReply(bool simulated)
{
    QString device = QHostInfo::localHostName();
    device.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    QJsonObject reply { { QStringLiteral("device"), device },
                        { QStringLiteral("version"), QString::fromLatin1(kAgentVersion) } };
    if (simulated)
        reply.insert(QStringLiteral("simulated"), true);
    return compactJson(reply);
}

} // namespace

RequestHandler::RequestHandler(PrintEngine &printEngine, DeviceSimulator *simulator)
    : m_printEngine(printEngine)
    , m_simulator(simulator)
{
}

HandledMessage RequestHandler::handleMessage(const QString &message)
{
    if (message.isEmpty())
        return { versionReply(m_simulator != nullptr), kVersionQueried };

    if (scanBeforeParsing(message) != JsonScan::Parse)
        return { std::nullopt, kInvalidJson };
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return { std::nullopt, kInvalidJson };

    const QJsonObject request = document.object();
    const QString id = request.value(QStringLiteral("id")).toString();
    const DispatchResult dispatched = dispatchRequest(request);
    return { compactJson({ { id, dispatched.result } }), dispatched.actionText };
}

RequestHandler::DispatchResult RequestHandler::dispatchRequest(const QJsonObject &request)
{
    if (!request.contains(QStringLiteral("method")))
        return { QJsonValue(), kMissingMethod };
    const QString method = request.value(QStringLiteral("method")).toString();
    try {
        return runMethod(method, request);
    } catch (const EPrinterFailed &) {
        return { QJsonValue(), kPrinterFailed };
    } catch (const EInvalidPrinter &failure) {
        if (failure.printerName != QString())
            return { QJsonValue(),
                     tr(kInvalidPrinter).arg(LogText::clientText(failure.printerName)) };
        return { QJsonValue(), kNoDefaultPrinter };
    } catch (const EInvalidPaperSize &) {
        return { QJsonValue(), kInvalidPaperSize };
    } catch (const EInvalidOrientation &) {
        return { QJsonValue(), kInvalidOrientation };
    } catch (const EOverLimit &refused) {
        return { QJsonValue(), tr(kOverLimit[refused.what]).arg(refused.count).arg(refused.limit) };
    } catch (...) {
        return { QJsonValue(), kInternalError };
    }
}

RequestHandler::DispatchResult RequestHandler::runMethod(const QString &method,
                                                         const QJsonObject &request)
{
    if (method == kGetPrintersMethod)
        return { QJsonArray::fromStringList(m_printEngine.getPrinters()), kPrintersListed };
    if (method == kPrintMethod) {
        m_printEngine.printDocument(request.value(QStringLiteral("data")).toObject());
        return { QJsonValue(), kPrinted };
    }
    if (m_simulator) {
        const QJsonObject data = request.value(QStringLiteral("data")).toObject();
        if (const std::optional<QString> simulated
            = runSimulationMethod(*m_simulator, method, data))
            return { QJsonValue(), *simulated };
    }
    return { QJsonValue(), kInvalidMethod };
}
