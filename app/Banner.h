#pragma once

#include "ClientPolicy.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// The addresses a page elsewhere on the network can reach: non-zero, non-loopback IPv4,
// in the order given.
QStringList reachableIPv4Addresses(const QList<QHostAddress> &addresses);

// The start-up banner for those addresses (written without a time prefix), followed by
// the restrictions of the policy in force; with local-only endpoints the addresses are
// not named, as no other computer can reach them.
QString startBanner(const QStringList &addresses, const ClientPolicy &policy = ClientPolicy());

// The reachable addresses of this computer, from its own host name.
QStringList localReachableIPv4Addresses();
