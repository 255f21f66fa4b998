#include "ClientPolicy.h"

#include <QUrl>

// A client that is not a browser sends no Origin header, which reads as an empty origin.
bool ClientPolicy::admits(const QString &origin) const
{
    if (allowedOrigins.isEmpty())
        return true;
    return origin.isEmpty() ? allowNoOrigin : allowedOrigins.contains(origin);
}

QList<QHostAddress> ClientPolicy::listenAddresses() const
{
    if (localOnly)
        return { QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6) };
    return { QHostAddress(QHostAddress::Any) };
}

// Browsers send the origin in one canonical form (lower-case scheme and host, no path,
// international names in their ASCII form); another spelling could never match.
bool ClientPolicy::isOrigin(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty()
        && url.userInfo().isEmpty() && url.path().isEmpty() && !url.hasQuery() && !url.hasFragment()
        && url.toString(QUrl::FullyEncoded) == text;
}
