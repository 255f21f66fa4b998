#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

class DeviceSimulator;

// The "simulate." methods of an agent with simulated devices: each asks the simulator to act
// and gives the action text of its log line, which says what was simulated or why the request
// was refused. None for any other method. The reply to each is null.
std::optional<QString> runSimulationMethod(DeviceSimulator &simulator, const QString &method,
                                           const QJsonObject &data);
