#include "HiddenAgent.h"

#include "BenchReport.h"
#include "EStartFailed.h"
#include "Reader.h"
#include "SimulatedSerialPorts.h"

#include <QTcpServer>

#include <memory>

namespace {

class NoDevices final : public DeviceFactory
{
public:
    explicit NoDevices(QPointer<Reader> &reader)
        : m_reader(reader)
    {
    }

    Reader *createReader(QObject *parent) const override
    {
        m_reader = new Reader(parent, std::make_shared<SimulatedSerialPorts>());
        return m_reader;
    }

private:
    QPointer<Reader> &m_reader;
};

void requireFreePort(quint16 port)
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::Any, port))
        throw BenchFailed {
            QStringLiteral("port %1 is taken: %2").arg(port).arg(probe.errorString())
        };
}

} // namespace

// With a tray the window stays hidden, as the program's window does until asked for.
HiddenAgent::HiddenAgent()
    : m_window(nullptr, true)
{
    requireFreePort(DevProxy::kPlainPort);
    requireFreePort(DevProxy::kSecurePort);
    try {
        m_service = std::make_unique<DevProxy>(nullptr, std::make_unique<SpoolerPrintEngine>(),
                                               std::make_unique<NoDevices>(m_reader));
    } catch (const EStartFailed &failure) {
        throw BenchFailed { QStringLiteral("the agent did not start: %1").arg(failure.reason) };
    }
    m_window.showService(*m_service, ClientPolicy());
}
