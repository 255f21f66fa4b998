#include "Agent.h"

#include "DevProxy.h"
#include "EStartFailed.h"
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

int runAgent(MForm &window, const AgentOptions &options, AgentConfig config)
{
    config.policy = options.policy;
    std::unique_ptr<DevProxy> service;
    try {
        service = std::make_unique<DevProxy>(nullptr, std::make_unique<SpoolerPrintEngine>(),
                                             devicesFor(options), config);
    } catch (const EStartFailed &failure) {
        window.showStartFailure(failure.reason);
        return 1;
    }
    window.showService(*service, config.policy);
    QApplication::setQuitOnLastWindowClosed(false);
    const int status = QApplication::exec();
    // The log ends with the event loop: nothing the service says while it stops is shown.
    QObject::disconnect(service.get(), nullptr, &window, nullptr);
    return status;
}
