#pragma once

#include "DeviceSimulator.h"

#include <QStringList>

// A simulator that records what it was asked to do.
class RecordingSimulator final : public DeviceSimulator
{
public:
    void plugInReader(const QString &label) override { calls << QStringLiteral("plug ") + label; }
    void unplugReader() override { calls << QStringLiteral("unplug"); }
    void presentCard(qint64 number) override
    {
        calls << QStringLiteral("card ") + QString::number(number);
    }
    void ring(const QString &number) override { calls << QStringLiteral("ring ") + number; }

    QStringList calls;
};
