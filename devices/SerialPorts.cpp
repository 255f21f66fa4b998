#include "SerialPorts.h"

#include <QSerialPortInfo>

SerialPorts::~SerialPorts() = default;

QList<SerialPortEntry> SystemSerialPorts::availablePorts() const
{
    QList<SerialPortEntry> entries;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        entries.append({ info.portName(), info.description(), info.systemLocation() });
    return entries;
}
