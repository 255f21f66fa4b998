#include "SimulatedDevices.h"

#include "Caller.h"
#include "ReaderSimulator.h"
#include "SimulatedCallerLine.h"

Reader *SimulatedDevices::createReader(QObject *parent) const
{
    m_reader = new ReaderSimulator(parent);
    return m_reader;
}

Caller *SimulatedDevices::createCaller() const
{
    return new Caller(SimulatedCallerLine::library());
}

DeviceSimulator *SimulatedDevices::simulator()
{
    return this;
}

void SimulatedDevices::plugInReader(const QString &label)
{
    if (m_reader)
        m_reader->plugIn(label);
}

void SimulatedDevices::unplugReader()
{
    if (m_reader)
        m_reader->unplug();
}

void SimulatedDevices::presentCard(qint64 number)
{
    if (m_reader)
        m_reader->presentCard(number);
}

void SimulatedDevices::ring(const QString &number)
{
    SimulatedCallerLine::ring(number);
}
