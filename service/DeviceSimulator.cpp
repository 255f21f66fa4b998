#include "DeviceSimulator.h"

#include "SimulatedCallerLine.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

bool hasControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar character) {
        return character.category() == QChar::Other_Control;
    });
}

} // namespace

DeviceSimulator::~DeviceSimulator() = default;

std::optional<qint64> DeviceSimulator::cardNumber(const QString &decimal)
{
    // Only plain digits: QString::toLongLong would also take blanks and a plus sign.
    static const QRegularExpression digits(QStringLiteral("\\A-?[0-9]{1,19}\\z"));
    if (!digits.match(decimal).hasMatch())
        return std::nullopt;
    bool inRange = false;
    const qint64 number = decimal.toLongLong(&inRange);
    return inRange ? std::optional<qint64>(number) : std::nullopt;
}

bool DeviceSimulator::isAcceptableLabel(const QString &label)
{
    return label.size() <= kMaxLabelLength && !hasControlCharacter(label);
}

bool DeviceSimulator::isAcceptableCallerNumber(const QString &number)
{
    return number.toUtf8().size() <= SimulatedCallerLine::kMaxNumberBytes
        && !hasControlCharacter(number);
}
