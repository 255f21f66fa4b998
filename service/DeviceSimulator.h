#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// What pages and the tray make the simulated devices do. Only an agent started with
// simulated devices has one; every request is carried out once the event loop runs again.
class DeviceSimulator
{
public:
    // Longer labels are refused: a real one names an adapter and a port.
    static constexpr int kMaxLabelLength = 200;

    virtual ~DeviceSimulator();

    // Loses an attached reader first, as the reader never holds two.
    virtual void plugInReader(const QString &label) = 0;
    virtual void unplugReader() = 0;
    // Only while a reader is attached.
    virtual void presentCard(qint64 number) = 0;
    virtual void ring(const QString &number) = 0;

    // A card number in decimal, of the whole signed 64-bit range, or none.
    static std::optional<qint64> cardNumber(const QString &decimal);
    // Texts that reach the log are refused when too long or holding control characters,
    // which could forge lines there.
    static bool isAcceptableLabel(const QString &label);
    static bool isAcceptableCallerNumber(const QString &number);
};
