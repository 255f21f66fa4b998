#include "ServiceLimits.h"

#include "DescriptorLimit.h"

#include <algorithm>

namespace {

// Half the descriptors stay for everything else: spooler connections, printer drivers,
// serial ports, files and the window system.
constexpr qint64 kShareOfDescriptorsForClients = 2;

} // namespace

ServiceLimits ServiceLimits::forThisProcess()
{
    ServiceLimits limits;
    const qint64 descriptors = openFileLimit();
    if (descriptors > 0) {
        const qint64 forClients = descriptors / kShareOfDescriptorsForClients;
        limits.maxConnections = int(std::min<qint64>(limits.maxConnections, forClients));
        limits.maxConnectionsPerPeer
            = std::min(limits.maxConnectionsPerPeer, limits.maxConnections);
    }
    return limits;
}
