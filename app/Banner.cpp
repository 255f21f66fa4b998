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

namespace {

QString addressText(const QStringList &addresses, const ClientPolicy &policy)
{
    if (policy.localOnly)
        return QStringLiteral("只接受本機(127.0.0.1及::1)的連線.\n");
    if (addresses.isEmpty())
        return QStringLiteral("但此電腦沒有可連接的IP位址.\n");
    return QCoreApplication::translate("MForm", "可從下列IP位址取得服務:\r\n\n%1\n")
        .arg(addresses.join(QStringLiteral("\r\n")));
}

QString originText(const ClientPolicy &policy)
{
    if (policy.allowedOrigins.isEmpty())
        return QString();
    return QCoreApplication::translate("MForm", "只接受來自下列來源的網頁連線:\r\n\n%1\n")
               .arg(policy.allowedOrigins.join(QStringLiteral("\r\n")))
        + (policy.allowNoOrigin ? QStringLiteral("也接受沒有來源(非瀏覽器)的用戶端連線.\n")
                                : QStringLiteral("拒絕沒有來源(非瀏覽器)的用戶端連線.\n"));
}

} // namespace

QString startBanner(const QStringList &addresses, const ClientPolicy &policy)
{
    return QStringLiteral("Kiv3 Device Proxy(%1)成功啟動, ").arg(QLatin1String(kAgentVersion))
        + addressText(addresses, policy) + originText(policy);
}

QStringList localReachableIPv4Addresses()
{
    return reachableIPv4Addresses(QHostInfo::fromName(QHostInfo::localHostName()).addresses());
}
