#pragma once

#include "DeviceFactory.h"
#include "DeviceSimulator.h"

#include <QPointer>

class ReaderSimulator;

// The devices of an agent started for developing pages: a simulated card reader and a
// simulated caller-ID line, made by the service like the real ones and driven through the
// simulator. Until the service has made its reader, reader requests are dropped.
class SimulatedDevices final : public DeviceFactory, public DeviceSimulator
{
public:
    Reader *createReader(QObject *parent) const override;
    Caller *createCaller() const override;
    DeviceSimulator *simulator() override;

    void plugInReader(const QString &label) override;
    void unplugReader() override;
    void presentCard(qint64 number) override;
    void ring(const QString &number) override;

private:
    mutable QPointer<ReaderSimulator> m_reader;
};
