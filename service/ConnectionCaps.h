#pragma once

#include <QHash>
#include <QHostAddress>
#include <QList>

#include <optional>

// Counts the open connections, in all and per peer address, and turns away those past the
// caps. Loopback addresses share the total alone: every local page and program comes from
// them. A refusal episode lasts from the first refusal until there is room again,
// so the log can name it twice, at its start and its end, however many clients it refused.
class ConnectionCaps
{
public:
    enum class Cap { Total, Peer };
    struct Refusal
    {
        Cap cap;
        bool startsEpisode;
    };
    struct EpisodeEnd
    {
        Cap cap;
        QHostAddress peer;
        int refused;
    };

    ConnectionCaps(int maxConnections, int maxConnectionsPerPeer);

    // Counts the connection in if there is room; otherwise tells which cap it hit.
    std::optional<Refusal> admit(const QHostAddress &peer);
    // Counts an admitted connection out; returns the episodes that end with it.
    QList<EpisodeEnd> release(const QHostAddress &peer);

    int open() const { return m_open; }

private:
    static QHostAddress canonical(const QHostAddress &peer);
    static bool sharesTotalOnly(const QHostAddress &peer);

    const int m_maxConnections;
    const int m_maxConnectionsPerPeer;
    int m_open = 0;
    QHash<QHostAddress, int> m_openByPeer;
    // Refusals of the running episodes; no entry, or 0, while none runs.
    int m_refusedByTotal = 0;
    QHash<QHostAddress, int> m_refusedByPeer;
};
