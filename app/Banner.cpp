#include "Banner.h"

#include "AgentVersion.h"
#include "AppTexts.h"

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

using AppTexts::kAddressesBanner;
using AppTexts::kBannerStart;
using AppTexts::kLocalOnlyBanner;
using AppTexts::kNoAddressBanner;
using AppTexts::kNoOriginAdmittedBanner;
using AppTexts::kNoOriginRefusedBanner;
using AppTexts::kOriginsBanner;

QString addressText(const QStringList &addresses, const ClientPolicy &policy)
{
    if (policy.localOnly)
        return kLocalOnlyBanner;
    if (addresses.isEmpty())
        return kNoAddressBanner;
    return QCoreApplication::translate("MForm", kAddressesBanner)
        .arg(addresses.join(QStringLiteral("\r\n")));
}

QString originText(const ClientPolicy &policy)
{
    if (policy.allowedOrigins.isEmpty())
        return QString();
    return QCoreApplication::translate("MForm", kOriginsBanner)
               .arg(policy.allowedOrigins.join(QStringLiteral("\r\n")))
        + (policy.allowNoOrigin ? kNoOriginAdmittedBanner : kNoOriginRefusedBanner);
}

} // namespace

QString startBanner(const QStringList &addresses, const ClientPolicy &policy)
{
    return kBannerStart.arg(QLatin1String(kAgentVersion)) + addressText(addresses, policy)
        + originText(policy);
}

QStringList localReachableIPv4Addresses()
{
    return reachableIPv4Addresses(QHostInfo::fromName(QHostInfo::localHostName()).addresses());
}
