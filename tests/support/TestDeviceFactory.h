#pragma once

#include "AD101Library.h"
#include "Caller.h"
#include "DeviceFactory.h"
#include "FakeAD101.h"
#include "Reader.h"
#include "SerialPorts.h"

#include <QPointer>

#include <atomic>
#include <memory>

// A machine without serial ports that counts how often it was looked at.
class NoSerialPorts final : public SerialPorts
{
public:
    QList<SerialPortEntry> availablePorts() const override
    {
        ++m_enumerations;
        return {};
    }
    int enumerations() const { return m_enumerations; }

private:
    mutable std::atomic<int> m_enumerations { 0 };
};

// The service's devices for tests: a reader on the ports the test offers (none unless
// given) and a caller on the stand-in vendor library, which the test drives.
class TestDeviceFactory final : public DeviceFactory
{
public:
    explicit TestDeviceFactory(std::shared_ptr<const SerialPorts> ports
                               = std::make_shared<NoSerialPorts>())
        : m_ports(std::move(ports))
    {
    }

    Reader *createReader(QObject *parent) const override
    {
        reader = new Reader(parent, m_ports);
        return reader;
    }

    Caller *createCaller() const override
    {
        caller = new Caller(AD101Library::load(fakeAD101Path()));
        return caller;
    }

    // The devices made for the service, null until made and once destroyed.
    mutable QPointer<Reader> reader;
    mutable QPointer<Caller> caller;

private:
    const std::shared_ptr<const SerialPorts> m_ports;
};
