#pragma once

#include <QJsonObject>

// The most a single print request may ask for, counting every copy. The agent prints on its
// one thread, so a request beyond these would keep every other page waiting for minutes or
// more and take gigabytes; no front desk's receipt or form comes near them.
namespace PrintBounds {

// Pages of a page-based document times its copies; a receipt is one page a copy.
constexpr qint64 kPages = 10000;
// Items of every page, or cells of every row (a row without cells counts as one), times
// the copies.
constexpr qint64 kItems = 100000;
// Characters of every string that the engine reads from the document (texts, alignments,
// colours, font names, rules, item kinds and the document name), times the copies. Text
// counts once more for every kTextPointsPerCount points of its font beyond the first: larger
// text takes more lines to lay out, up to a line for every character.
constexpr qint64 kCharacters = 1000000;
constexpr int kTextPointsPerCount = 12;
// Distinct font faces (family, size, boldness) of a document, the default one included:
// each costs a font look-up while drawing and is embedded again in every copy's job.
constexpr qint64 kFontFaces = 100;
// Font sizes in points; a glyph this large already fills a third of the largest paper.
constexpr qint64 kFontPoints = 1000;
// Every copy is a spooler job of its own that embeds every face again: a job costs about
// as much as eight faces, and copies × (kJobWork + faces) stays within kCopyWork. That
// allows 200 copies of a one-face document and 30 of a fifty-face one, which take the agent
// a few seconds (up to 10 s on two busy cores).
constexpr qint64 kJobWork = 8;
constexpr qint64 kCopyWork = 1800;

} // namespace PrintBounds

// Throws EOverLimit for the first bound the request goes beyond, before anything is printed.
// A copy count below 1 counts as one: a receipt is laid out even when no copy is printed.
void checkPrintBounds(const QJsonObject &job);
