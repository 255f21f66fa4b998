#include "UnmaskedFrameScan.h"

#include <QtEndian>

#include <algorithm>

namespace {

constexpr quint8 kMaskBit = 0x80;
constexpr quint8 kLengthBits = 0x7f;
constexpr quint8 kLength16 = 126;
constexpr quint8 kLength64 = 127;
constexpr qint64 kMaskKeyBytes = 4;

} // namespace

void UnmaskedFrameScan::feed(const char *data, qint64 size)
{
    while (size > 0 && !m_foundUnmasked) {
        if (m_payloadLeft > 0) {
            const qint64 skipped = std::min(size, m_payloadLeft);
            m_payloadLeft -= skipped;
            data += skipped;
            size -= skipped;
            continue;
        }
        m_header.append(*data++);
        --size;
        if (m_header.size() == 2 && !(quint8(m_header.at(1)) & kMaskBit))
            m_foundUnmasked = true;
        else if (m_header.size() == headerSize())
            endHeader();
    }
}

qint64 UnmaskedFrameScan::headerSize() const
{
    if (m_header.size() < 2)
        return 2;
    const quint8 length = quint8(m_header.at(1)) & kLengthBits;
    const qint64 extended = length == kLength16 ? 2 : length == kLength64 ? 8 : 0;
    return 2 + extended + kMaskKeyBytes;
}

void UnmaskedFrameScan::endHeader()
{
    const quint8 length = quint8(m_header.at(1)) & kLengthBits;
    const auto *bytes = reinterpret_cast<const uchar *>(m_header.constData());
    if (length == kLength16)
        m_payloadLeft = qFromBigEndian<quint16>(bytes + 2);
    else if (length == kLength64)
        m_payloadLeft = qint64(qFromBigEndian<quint64>(bytes + 2) & 0x7fffffffffffffffULL);
    else
        m_payloadLeft = length;
    m_header.clear();
}
