#include "Agent.h"

#include "DeviceFactory.h"
#include "MForm.h"
#include "SimulatedDevices.h"

#include <QApplication>

namespace {

std::unique_ptr<DeviceFactory> devicesFor(const AgentOptions &options)
{
    if (options.simulateDevices)
        return std::make_unique<SimulatedDevices>();
    return std::make_unique<DeviceFactory>();
}

} // namespace

int runAgent(MForm &window, const AgentOptions &options)
{
    if (!window.startService(devicesFor(options), options.policy))
        return 1;
    QApplication::setQuitOnLastWindowClosed(false);
    return QApplication::exec();
}
