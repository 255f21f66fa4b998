#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// The card reader's wire format: the query command, its answer and the card frames.
// Only the start of a burst is examined; whatever follows the first frame is ignored.
namespace CardFrame {

// Sent once to a candidate port; a card reader answers with a probe response.
QByteArray queryCommand();

// Whether a candidate's answer identifies a card reader.
bool isProbeResponse(const QByteArray &answer);

// The card number of a burst that starts with a complete short or long card frame.
std::optional<qint64> cardNumber(const QByteArray &burst);

// The frame a card reader sends for this card number: the short form for numbers of 32
// signed bits, the long form for other numbers below 2^56, none for the rest.
std::optional<QByteArray> frameFor(qint64 number);

// Whether the burst carries the length byte of the reader's older frame version.
bool isOldVersion(const QByteArray &burst);

} // namespace CardFrame
