#pragma once

#include "SerialPorts.h"

#include <QMutex>

// A port enumeration whose list the test changes while a reader thread enumerates it.
class SimulatedSerialPorts final : public SerialPorts
{
public:
    explicit SimulatedSerialPorts(QList<SerialPortEntry> entries = {});

    QList<SerialPortEntry> availablePorts() const override;
    void setEntries(QList<SerialPortEntry> entries);
    // How many times the list has been asked for.
    int enumerations() const;

private:
    mutable QMutex m_mutex;
    QList<SerialPortEntry> m_entries;
    mutable int m_enumerations = 0;
};
