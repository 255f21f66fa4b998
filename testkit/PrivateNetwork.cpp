#include "PrivateNetwork.h"

#include <QProcess>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <unistd.h>

const char kPrivateIPv4Address[] = "10.200.0.1";
const char kPrivateIPv6Address[] = "fd20::1";

namespace {

// A pair of virtual interfaces: the kernel may lack the dummy interface type.
const QList<QStringList> kSetUp = {
    { "link", "set", "lo", "up" },
    { "link", "add", "kiv3-test", "type", "veth", "peer", "name", "kiv3-peer" },
    { "link", "set", "kiv3-test", "up" },
    { "link", "set", "kiv3-peer", "up" },
    { "addr", "add", QStringLiteral("%1/24").arg(kPrivateIPv4Address), "dev", "kiv3-test" },
    // Without duplicate detection the address is usable at once.
    { "addr", "add", QStringLiteral("%1/64").arg(kPrivateIPv6Address), "dev", "kiv3-test",
      "nodad" },
};

} // namespace

QString enterPrivateNetwork()
{
    if (::geteuid() != 0)
        return QStringLiteral("a private network needs root");
    if (::unshare(CLONE_NEWNET) != 0)
        return QStringLiteral("no private network: %1")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    for (const QStringList &arguments : kSetUp) {
        QProcess ip;
        ip.setProcessChannelMode(QProcess::MergedChannels);
        ip.start(QStringLiteral("ip"), arguments);
        if (!ip.waitForFinished() || ip.exitStatus() != QProcess::NormalExit
            || ip.exitCode() != 0) {
            return QStringLiteral("ip %1 failed: %2")
                .arg(arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(ip.readAll()));
        }
    }
    return QString();
}
