#pragma once

#include <QByteArray>
#include <QString>

// Client text on its way into a log line. Pages choose printer names, origins and the
// like freely, so such text could otherwise fill the log view with one endless line, forge
// whole lines of its own, or reach a terminal reading standard error as control sequences.
namespace LogText {

// Characters of client text that a log line keeps; longer text is cut and marked.
constexpr int kMaxClientCharacters = 200;

// The text cut to kMaxClientCharacters, followed by "…(共N字)" with its full length when
// cut, with every control character written as \uXXXX: C0 and C1 controls, DEL, the line
// and paragraph separators and the bidirectional marks, embeddings, overrides and isolates.
// Other text, backslashes included, stays as it is.
QString clientText(const QString &text);

// A request header decoded as UTF-8. Qt 5 reads headers one byte to a character, so a
// client's UTF-8 arrives as Latin-1; a header that is not valid UTF-8 that way (Qt has
// turned characters beyond Latin-1 into NULs under a UTF-8 locale) stays as it came.
QString headerText(const QString &header);

} // namespace LogText
