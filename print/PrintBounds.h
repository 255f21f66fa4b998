#pragma once

#include <QJsonObject>

// The most a single print request may ask for, counting every copy. The agent prints on its
// one thread, so a request beyond these would keep every other page waiting for minutes or
// more and take gigabytes; no front desk's receipt or form comes near them.
namespace PrintBounds {

constexpr qint64 kCopies = 999;
// Pages of a page-based document times its copies; a receipt is one page a copy.
constexpr qint64 kPages = 10000;
// Items of every page, or cells of every row (a row without cells counts as one), times
// the copies.
constexpr qint64 kItems = 100000;
// Characters of every text item or cell, times the copies.
constexpr qint64 kCharacters = 1000000;

} // namespace PrintBounds

// Throws EOverLimit for the first bound the request goes beyond, before anything is printed.
// A copy count below 1 counts as one: a receipt is laid out even when no copy is printed.
void checkPrintBounds(const QJsonObject &job);
