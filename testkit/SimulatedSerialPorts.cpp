#include "SimulatedSerialPorts.h"

#include <QMutexLocker>

SimulatedSerialPorts::SimulatedSerialPorts(QList<SerialPortEntry> entries)
    : m_entries(std::move(entries))
{
}

QList<SerialPortEntry> SimulatedSerialPorts::availablePorts() const
{
    QMutexLocker locker(&m_mutex);
    ++m_enumerations;
    return m_entries;
}

void SimulatedSerialPorts::setEntries(QList<SerialPortEntry> entries)
{
    QMutexLocker locker(&m_mutex);
    m_entries = std::move(entries);
}

int SimulatedSerialPorts::enumerations() const
{
    QMutexLocker locker(&m_mutex);
    return m_enumerations;
}
