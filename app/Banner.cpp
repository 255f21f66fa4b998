#include "Banner.h"

#include "AgentVersion.h"

#include <QCoreApplication>
#include <QHostInfo>

QStringList reachableIPv4Addresses(const QList<QHostAddress> &addresses)
{
    QStringList reachable;
    for (const QHostAddress &address : addresses) {
        if (address.toIPv4Address() != 0 && !address.isLoopback())
            reachable.append(address.toString());
    }
    return reachable;
}

QString startBanner(const QStringList &addresses)
{
    const QString addressText = addresses.isEmpty()
        ? QStringLiteral("但此電腦沒有可連接的IP位址.\n")
        : QCoreApplication::translate("MForm", "可從下列IP位址取得服務:\r\n\n%1\n")
              .arg(addresses.join(QStringLiteral("\r\n")));
    return QStringLiteral("Kiv3 Device Proxy(%1)成功啟動, ").arg(QLatin1String(kAgentVersion))
        + addressText;
}

QStringList localReachableIPv4Addresses()
{
    return reachableIPv4Addresses(QHostInfo::fromName(QHostInfo::localHostName()).addresses());
}
