#include "RequestHandler.h"

#include "AgentVersion.h"
#include "LogText.h"
#include "PrintEngine.h"
#include "PrintExceptions.h"
#include "RepeatedKeys.h"
#include "ReplyShapes.h"
#include "SimulationMethods.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {

const QString kVersionQueried = QStringLiteral("取回Kiv3 Device Proxy版本資訊");
const QString kInvalidJson = QStringLiteral("送來無效的json字串");
const QString kMissingMethod = QStringLiteral("送來的資料缺少method");
const QString kPrintersListed = QStringLiteral("查詢本電腦登錄的印表機");
const QString kPrinted = QStringLiteral("執行列印作業");
const QString kInvalidMethod = QStringLiteral("無效的method屬性");
const QString kPrinterFailed = QStringLiteral("印表機系統初始化失敗");
const char kInvalidPrinter[] = "無效的印表機: %1";
const QString kNoDefaultPrinter = QStringLiteral("系統未設定預設印表機");
const QString kInvalidPaperSize = QStringLiteral("不支援的紙張尺寸");
const QString kInvalidOrientation = QStringLiteral("不支援的列印方向");
const QString kInternalError = QStringLiteral("發生內部錯誤");
const QString kPrinterStatesListed = QStringLiteral("查詢本電腦登錄的印表機狀態");
// A request beyond the print bounds, by the bound: the count asked for and the limit.
const char *const kOverLimit[] = {
    "列印份數%1超過上限%2", // copies
    "列印頁數%1超過上限%2", // pages
    "列印項目數%1超過上限%2", // items
    "列印文字%1字超過上限%2字", // characters
    "列印字型%1種超過上限%2種", // font faces
    "列印字型大小%1超過上限%2", // font size
};

const QString kGetPrintersMethod = QStringLiteral("print.getprinters");
const QString kPrintMethod = QStringLiteral("print.print");
const QString kGetPrinterStatusMethod = QStringLiteral("print.getprinterstatus");

// Why a request failed, as pages that ask for the outcome are told.
const QString kInvalidPrinterCode = QStringLiteral("invalid-printer");
const QString kNoDefaultPrinterCode = QStringLiteral("no-default-printer");
const QString kPaperSizeCode = QStringLiteral("paper-size");
const QString kOrientationCode = QStringLiteral("orientation");
const QString kPrinterFailedCode = QStringLiteral("printer-failed");
const QString kOverLimitCode = QStringLiteral("over-limit");
const QString kMissingMethodCode = QStringLiteral("missing-method");
const QString kInvalidMethodCode = QStringLiteral("invalid-method");
const QString kInternalCode = QStringLiteral("internal");

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
    if (!ReplyShapes::asksForOutcome(request))
        return { compactJson({ { id, dispatched.result } }), dispatched.actionText };
    HandledMessage handled { compactJson({ { id, outcomeOf(dispatched) } }),
                             dispatched.actionText };
    if (!dispatched.spooled.ids.isEmpty())
        handled.follow = JobsToFollow { id, dispatched.spooled };
    return handled;
}

QJsonValue RequestHandler::outcomeOf(const DispatchResult &dispatched)
{
    if (!dispatched.failureCode.isEmpty())
        return ReplyShapes::failure(dispatched.failureCode, dispatched.actionText);
    if (!dispatched.outcome.isUndefined())
        return dispatched.outcome;
    return dispatched.result;
}

RequestHandler::DispatchResult RequestHandler::dispatchRequest(const QJsonObject &request)
{
    if (!request.contains(QStringLiteral("method")))
        return { QJsonValue(), kMissingMethod, kMissingMethodCode };
    const QString method = request.value(QStringLiteral("method")).toString();
    try {
        return runMethod(method, request);
    } catch (const EPrinterFailed &) {
        return { QJsonValue(), kPrinterFailed, kPrinterFailedCode };
    } catch (const EInvalidPrinter &failure) {
        if (failure.printerName != QString())
            return { QJsonValue(),
                     tr(kInvalidPrinter).arg(LogText::clientText(failure.printerName)),
                     kInvalidPrinterCode };
        return { QJsonValue(), kNoDefaultPrinter, kNoDefaultPrinterCode };
    } catch (const EInvalidPaperSize &) {
        return { QJsonValue(), kInvalidPaperSize, kPaperSizeCode };
    } catch (const EInvalidOrientation &) {
        return { QJsonValue(), kInvalidOrientation, kOrientationCode };
    } catch (const EOverLimit &refused) {
        return { QJsonValue(), tr(kOverLimit[refused.what]).arg(refused.count).arg(refused.limit),
                 kOverLimitCode };
    } catch (const ESpoolerFailed &) {
        // Logged as before, while pages that ask learn that the printer failed.
        return { QJsonValue(), kInternalError, kPrinterFailedCode };
    } catch (...) {
        return { QJsonValue(), kInternalError, kInternalCode };
    }
}

RequestHandler::DispatchResult RequestHandler::runMethod(const QString &method,
                                                         const QJsonObject &request)
{
    if (method == kGetPrintersMethod) {
        const QJsonArray printers = QJsonArray::fromStringList(m_printEngine.getPrinters());
        return { printers, kPrintersListed, QString(),
                 ReplyShapes::success(QStringLiteral("printers"), printers) };
    }
    if (method == kPrintMethod) {
        const SpooledJobs spooled
            = m_printEngine.printDocument(request.value(QStringLiteral("data")).toObject());
        QJsonArray jobs;
        for (const int id : spooled.ids)
            jobs.append(id);
        return { QJsonValue(), kPrinted, QString(),
                 ReplyShapes::success(QStringLiteral("jobs"), jobs), spooled };
    }
    if (method == kGetPrinterStatusMethod)
        return { ReplyShapes::printerStates(m_printEngine.getPrinterStates()),
                 kPrinterStatesListed };
    if (m_simulator) {
        const QJsonObject data = request.value(QStringLiteral("data")).toObject();
        if (const std::optional<QString> simulated
            = runSimulationMethod(*m_simulator, method, data))
            return { QJsonValue(), *simulated };
    }
    return { QJsonValue(), kInvalidMethod, kInvalidMethodCode };
}
