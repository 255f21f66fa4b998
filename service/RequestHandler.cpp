#include "RequestHandler.h"

#include "AgentVersion.h"
#include "DeviceSimulator.h"
#include "PrintEngine.h"
#include "PrintExceptions.h"
#include "ReaderSimulator.h"
#include "RepeatedKeys.h"

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
// A request beyond the print bounds, by the bound: the count asked for and the limit.
const char *const kOverLimit[] = {
    "列印份數%1超過上限%2",
    "列印頁數%1超過上限%2",
    "列印項目數%1超過上限%2",
    "列印文字%1字超過上限%2字",
};

const QString kGetPrintersMethod = QStringLiteral("print.getprinters");
const QString kPrintMethod = QStringLiteral("print.print");

const QString kSimulateReaderMethod = QStringLiteral("simulate.reader");
const QString kSimulateUnreaderMethod = QStringLiteral("simulate.unreader");
const QString kSimulateCardMethod = QStringLiteral("simulate.card");
const QString kSimulateCallinMethod = QStringLiteral("simulate.callin");
const char kReaderSimulated[] = "模擬連接讀卡機'%1'";
const QString kUnreaderSimulated = QStringLiteral("模擬拔除讀卡機");
const char kCardSimulated[] = "模擬刷卡, 卡號為: %1";
const char kCallinSimulated[] = "模擬來電, 號碼為: %1";
const QString kInvalidSimulatedLabel = QStringLiteral("模擬讀卡機的名稱無效");
const QString kInvalidSimulatedCard = QStringLiteral("模擬刷卡的卡號無效");
const QString kInvalidSimulatedNumber = QStringLiteral("模擬來電的號碼無效");

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

// A JSON number only when the parser kept it as an integer: a double may have lost digits.
std::optional<qint64> simulatedCardNumber(const QJsonValue &value)
{
    if (value.isString())
        return DeviceSimulator::cardNumber(value.toString());
    const QVariant number = value.toVariant();
    if (value.isDouble() && number.userType() == QMetaType::LongLong)
        return number.toLongLong();
    return std::nullopt;
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

    if (hasRepeatedKey(message))
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
            return { QJsonValue(), tr(kInvalidPrinter).arg(failure.printerName) };
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
        if (std::optional<DispatchResult> simulated
            = simulate(method, request.value(QStringLiteral("data")).toObject()))
            return *simulated;
    }
    return { QJsonValue(), kInvalidMethod };
}

std::optional<RequestHandler::DispatchResult> RequestHandler::simulate(const QString &method,
                                                                       const QJsonObject &data)
{
    if (method == kSimulateReaderMethod) {
        const QString label = data.contains(QStringLiteral("label"))
            ? data.value(QStringLiteral("label")).toString()
            : ReaderSimulator::kDefaultLabel;
        if (!DeviceSimulator::isAcceptableLabel(label))
            return DispatchResult { QJsonValue(), kInvalidSimulatedLabel };
        m_simulator->plugInReader(label);
        return DispatchResult { QJsonValue(), tr(kReaderSimulated).arg(label) };
    }
    if (method == kSimulateUnreaderMethod) {
        m_simulator->unplugReader();
        return DispatchResult { QJsonValue(), kUnreaderSimulated };
    }
    if (method == kSimulateCardMethod) {
        const std::optional<qint64> number
            = simulatedCardNumber(data.value(QStringLiteral("card")));
        if (!number)
            return DispatchResult { QJsonValue(), kInvalidSimulatedCard };
        m_simulator->presentCard(*number);
        return DispatchResult { QJsonValue(), tr(kCardSimulated).arg(*number) };
    }
    if (method == kSimulateCallinMethod) {
        const QString number = data.value(QStringLiteral("number")).toString();
        if (!DeviceSimulator::isAcceptableCallerNumber(number))
            return DispatchResult { QJsonValue(), kInvalidSimulatedNumber };
        m_simulator->ring(number);
        return DispatchResult { QJsonValue(), tr(kCallinSimulated).arg(number) };
    }
    return std::nullopt;
}
