#pragma once

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

} // namespace LogText
