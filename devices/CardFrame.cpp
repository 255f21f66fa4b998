#include "CardFrame.h"

namespace {

constexpr char kHeader = 0x7E;
constexpr char kShortForm = 0x0A;
constexpr char kLongForm = 0x0D;
constexpr char kOldVersionLength = 0x17;
constexpr char kCardFrameKind = 0x03;
constexpr char kProbeKindA = 0x09;
constexpr char kProbeKindB = 0x03;
// The number is read from bytes 5 to 8 and, in the long form, 10 to 12.
constexpr int kShortFormSize = 9;
constexpr int kLongFormSize = 13;
// The long form carries seven bytes of the number: four in bytes 5 to 8, three in 10 to 12.
constexpr qint64 kLongFormLimit = qint64(1) << 56;

quint64 byteAt(const QByteArray &bytes, int index)
{
    return static_cast<quint8>(bytes.at(index));
}

quint32 bigEndian32At(const QByteArray &bytes, int index)
{
    return static_cast<quint32>(byteAt(bytes, index) << 24 | byteAt(bytes, index + 1) << 16
                                | byteAt(bytes, index + 2) << 8 | byteAt(bytes, index + 3));
}

void appendBigEndian(QByteArray &bytes, quint64 value, int count)
{
    for (int shift = (count - 1) * 8; shift >= 0; shift -= 8)
        bytes.append(static_cast<char>((value >> shift) & 0xFF));
}

// The frame's first five bytes: header, form, a zero, the kind, a zero.
QByteArray frameStart(char form)
{
    QByteArray frame;
    for (const char byte : { kHeader, form, '\0', kCardFrameKind, '\0' })
        frame.append(byte);
    return frame;
}

} // namespace

namespace CardFrame {

QByteArray queryCommand()
{
    return QByteArray::fromHex("7e04ff18182f");
}

bool isProbeResponse(const QByteArray &answer)
{
    return answer.size() >= 4 && answer.at(0) == kHeader && answer.at(1) == kShortForm
        && answer.at(2) == 0x00 && (answer.at(3) == kProbeKindA || answer.at(3) == kProbeKindB);
}

std::optional<qint64> cardNumber(const QByteArray &burst)
{
    if (burst.size() < 4 || burst.at(0) != kHeader || burst.at(3) != kCardFrameKind)
        return std::nullopt;
    if (burst.at(1) == kShortForm && burst.size() >= kShortFormSize)
        return static_cast<qint32>(bigEndian32At(burst, 5));
    if (burst.at(1) == kLongForm && burst.size() >= kLongFormSize) {
        const quint64 high = byteAt(burst, 10) << 16 | byteAt(burst, 11) << 8 | byteAt(burst, 12);
        return static_cast<qint64>(high << 32 | bigEndian32At(burst, 5));
    }
    return std::nullopt;
}

std::optional<QByteArray> frameFor(qint64 number)
{
    if (number >= INT32_MIN && number <= INT32_MAX) {
        QByteArray frame = frameStart(kShortForm);
        appendBigEndian(frame, static_cast<quint32>(number), 4);
        frame.append('\0');
        return frame;
    }
    if (number < 0 || number >= kLongFormLimit)
        return std::nullopt;
    const auto value = static_cast<quint64>(number);
    QByteArray frame = frameStart(kLongForm);
    appendBigEndian(frame, value & 0xFFFFFFFF, 4);
    frame.append('\0');
    appendBigEndian(frame, value >> 32, 3);
    return frame;
}

bool isOldVersion(const QByteArray &burst)
{
    return burst.size() >= 2 && burst.at(1) == kOldVersionLength;
}

} // namespace CardFrame
