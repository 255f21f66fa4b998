#include "MemoryBudget.h"

MemoryBudget::MemoryBudget(qint64 totalBytes)
    : m_totalBytes(totalBytes)
{
}

void MemoryBudget::hold(QObject *holder, qint64 bytes)
{
    qint64 &held = m_held[holder];
    m_total += bytes - held;
    held = bytes;
}

void MemoryBudget::release(QObject *holder)
{
    m_total -= m_held.take(holder);
}

QObject *MemoryBudget::largestPastBudget() const
{
    if (m_total <= m_totalBytes)
        return nullptr;
    QObject *largest = nullptr;
    qint64 most = -1;
    for (auto held = m_held.cbegin(); held != m_held.cend(); ++held) {
        if (held.value() > most) {
            most = held.value();
            largest = held.key();
        }
    }
    return largest;
}
