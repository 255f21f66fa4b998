#include "ConnectionCaps.h"

ConnectionCaps::ConnectionCaps(int maxConnections, int maxConnectionsPerPeer)
    : m_maxConnections(maxConnections)
    , m_maxConnectionsPerPeer(maxConnectionsPerPeer)
{
}

std::optional<ConnectionCaps::Refusal> ConnectionCaps::admit(const QHostAddress &peer)
{
    const QHostAddress address = canonical(peer);
    if (m_open >= m_maxConnections)
        return Refusal { Cap::Total, m_refusedByTotal++ == 0 };
    if (!sharesTotalOnly(address) && m_openByPeer.value(address) >= m_maxConnectionsPerPeer)
        return Refusal { Cap::Peer, m_refusedByPeer[address]++ == 0 };
    ++m_open;
    if (!sharesTotalOnly(address))
        ++m_openByPeer[address];
    return std::nullopt;
}

QList<ConnectionCaps::EpisodeEnd> ConnectionCaps::release(const QHostAddress &peer)
{
    const QHostAddress address = canonical(peer);
    QList<EpisodeEnd> ended;
    --m_open;
    if (m_refusedByTotal > 0) {
        ended.append({ Cap::Total, address, m_refusedByTotal });
        m_refusedByTotal = 0;
    }
    if (sharesTotalOnly(address))
        return ended;
    const auto open = m_openByPeer.find(address);
    if (open != m_openByPeer.end() && --*open == 0)
        m_openByPeer.erase(open);
    const int refused = m_refusedByPeer.take(address);
    if (refused > 0)
        ended.append({ Cap::Peer, address, refused });
    return ended;
}

// Clients of the IPv4 network reach the dual-stack listener as IPv4-mapped IPv6 addresses.
QHostAddress ConnectionCaps::canonical(const QHostAddress &peer)
{
    bool isIPv4 = false;
    const quint32 ipv4 = peer.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4) : peer;
}

bool ConnectionCaps::sharesTotalOnly(const QHostAddress &peer)
{
    return peer.isLoopback();
}
