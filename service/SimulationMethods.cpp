#include "SimulationMethods.h"

#include "DeviceSimulator.h"
#include "ReaderSimulator.h"

#include <QCoreApplication>
#include <QJsonValue>
#include <QVariant>

namespace {

const QString kReaderMethod = QStringLiteral("simulate.reader");
const QString kUnreaderMethod = QStringLiteral("simulate.unreader");
const QString kCardMethod = QStringLiteral("simulate.card");
const QString kCallinMethod = QStringLiteral("simulate.callin");
const char kReaderSimulated[] = "模擬連接讀卡機'%1'";
const QString kUnreaderSimulated = QStringLiteral("模擬拔除讀卡機");
const char kCardSimulated[] = "模擬刷卡, 卡號為: %1";
const char kCallinSimulated[] = "模擬來電, 號碼為: %1";
const QString kInvalidLabel = QStringLiteral("模擬讀卡機的名稱無效");
const QString kInvalidCard = QStringLiteral("模擬刷卡的卡號無效");
const QString kInvalidNumber = QStringLiteral("模擬來電的號碼無效");

QString tr(const char *text)
{
    return QCoreApplication::translate("DevProxy", text);
}

// A JSON number only when the parser kept it as an integer: a double may have lost digits.
std::optional<qint64> cardNumber(const QJsonValue &value)
{
    if (value.isString())
        return DeviceSimulator::cardNumber(value.toString());
    const QVariant number = value.toVariant();
    if (value.isDouble() && number.userType() == QMetaType::LongLong)
        return number.toLongLong();
    return std::nullopt;
}

QString plugInReader(DeviceSimulator &simulator, const QJsonObject &data)
{
    const QString label = data.contains(QStringLiteral("label"))
        ? data.value(QStringLiteral("label")).toString()
        : ReaderSimulator::kDefaultLabel;
    if (!DeviceSimulator::isAcceptableLabel(label))
        return kInvalidLabel;
    simulator.plugInReader(label);
    return tr(kReaderSimulated).arg(label);
}

QString presentCard(DeviceSimulator &simulator, const QJsonObject &data)
{
    const std::optional<qint64> number = cardNumber(data.value(QStringLiteral("card")));
    if (!number)
        return kInvalidCard;
    simulator.presentCard(*number);
    return tr(kCardSimulated).arg(*number);
}

QString ring(DeviceSimulator &simulator, const QJsonObject &data)
{
    const QString number = data.value(QStringLiteral("number")).toString();
    if (!DeviceSimulator::isAcceptableCallerNumber(number))
        return kInvalidNumber;
    simulator.ring(number);
    return tr(kCallinSimulated).arg(number);
}

} // namespace

std::optional<QString> runSimulationMethod(DeviceSimulator &simulator, const QString &method,
                                           const QJsonObject &data)
{
    if (method == kReaderMethod)
        return plugInReader(simulator, data);
    if (method == kUnreaderMethod) {
        simulator.unplugReader();
        return kUnreaderSimulated;
    }
    if (method == kCardMethod)
        return presentCard(simulator, data);
    if (method == kCallinMethod)
        return ring(simulator, data);
    return std::nullopt;
}
