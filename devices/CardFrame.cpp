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

quint64 byteAt(const QByteArray &bytes, int index)
{
    return static_cast<quint8>(bytes.at(index));
}

quint32 bigEndian32At(const QByteArray &bytes, int index)
{
    return static_cast<quint32>(byteAt(bytes, index) << 24 | byteAt(bytes, index + 1) << 16
                                | byteAt(bytes, index + 2) << 8 | byteAt(bytes, index + 3));
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

bool isOldVersion(const QByteArray &burst)
{
    return burst.size() >= 2 && burst.at(1) == kOldVersionLength;
}

} // namespace CardFrame
