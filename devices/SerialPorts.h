#pragma once

#include <QList>
#include <QString>

// One serial port as the enumeration reports it.
struct SerialPortEntry
{
    QString portName;
    QString description;
    QString systemLocation;
};

// The seam the card reader enumerates ports through; tests offer a pseudo-terminal.
class SerialPorts
{
public:
    virtual ~SerialPorts();
    virtual QList<SerialPortEntry> availablePorts() const = 0;
};

// The serial ports the system reports, in the order it reports them.
class SystemSerialPorts final : public SerialPorts
{
public:
    QList<SerialPortEntry> availablePorts() const override;
};
