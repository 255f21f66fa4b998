#pragma once

#include <QHash>
#include <QtGlobal>

class QObject;

// What the clients make the service hold, in bytes, per holder (a connection or a handshake
// in progress) and in total.
class MemoryBudget
{
public:
    explicit MemoryBudget(qint64 totalBytes);

    // Sets what the holder holds now.
    void hold(QObject *holder, qint64 bytes);
    void release(QObject *holder);

    qint64 total() const { return m_total; }
    // The holder of the most while the total is past the budget, otherwise null.
    QObject *largestPastBudget() const;

private:
    const qint64 m_totalBytes;
    qint64 m_total = 0;
    QHash<QObject *, qint64> m_held;
};
