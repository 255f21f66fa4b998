#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// Which clients the endpoints admit and where they listen. The default is open: every
// origin, clients without one, every interface.
class ClientPolicy
{
public:
    // Compared with a page's Origin header exactly. Once one is given, all other origins
    // are refused, and clients without an origin too unless allowNoOrigin is set.
    QStringList allowedOrigins;
    bool allowNoOrigin = false;
    // Both endpoints listen on 127.0.0.1 and ::1 only.
    bool localOnly = false;

    bool admits(const QString &origin) const;
    // The first address must serve; the others may be missing, as ::1 is without IPv6.
    QList<QHostAddress> listenAddresses() const;

    // True for "scheme://host" or "scheme://host:port" written as a browser sends it.
    static bool isOrigin(const QString &text);
};
