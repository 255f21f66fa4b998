#include "SimulationMethods.h"

#include "DeviceSimulator.h"
#include "ReaderSimulator.h"
#include "SimulationTexts.h"

#include <QCoreApplication>
#include <QJsonValue>
#include <QVariant>

namespace {

using SimulationTexts::kCallinMethod;
using SimulationTexts::kCallinSimulated;
using SimulationTexts::kCardMethod;
using SimulationTexts::kCardSimulated;
using SimulationTexts::kInvalidCard;
using SimulationTexts::kInvalidLabel;
using SimulationTexts::kInvalidNumber;
using SimulationTexts::kReaderMethod;
using SimulationTexts::kReaderSimulated;
using SimulationTexts::kUnreaderMethod;
using SimulationTexts::kUnreaderSimulated;

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
        return QString::fromUtf8(kInvalidLabel);
    simulator.plugInReader(label);
    return tr(kReaderSimulated).arg(label);
}

QString presentCard(DeviceSimulator &simulator, const QJsonObject &data)
{
    const std::optional<qint64> number = cardNumber(data.value(QStringLiteral("card")));
    if (!number)
        return QString::fromUtf8(kInvalidCard);
    simulator.presentCard(*number);
    return tr(kCardSimulated).arg(*number);
}

QString ring(DeviceSimulator &simulator, const QJsonObject &data)
{
    const QString number = data.value(QStringLiteral("number")).toString();
    if (!DeviceSimulator::isAcceptableCallerNumber(number))
        return QString::fromUtf8(kInvalidNumber);
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
        return QString::fromUtf8(kUnreaderSimulated);
    }
    if (method == kCardMethod)
        return presentCard(simulator, data);
    if (method == kCallinMethod)
        return ring(simulator, data);
    return std::nullopt;
}
