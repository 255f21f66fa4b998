#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// The addresses a page elsewhere on the network can reach: non-zero, non-loopback IPv4,
// in the order given.
QStringList reachableIPv4Addresses(const QList<QHostAddress> &addresses);

// The start-up banner line for those addresses (written without a time prefix).
QString startBanner(const QStringList &addresses);

// The reachable addresses of this computer, from its own host name.
QStringList localReachableIPv4Addresses();
