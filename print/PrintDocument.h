#pragma once

#include <QJsonObject>
#include <QStringList>

// Prints the "data" object of a print request, page-based or row-based by its
// "doctype". Returns when every copy has reached the spooler; throws EOverLimit before
// anything is printed, EPrinterFailed, EInvalidPrinter, EInvalidPaperSize,
// EInvalidOrientation, or what Qt or the system threw while drawing.
void printDocument(const QJsonObject &job);

// Whether the document is a row-based receipt ("doctype" "rowbase") or else page-based.
bool isRowDocument(const QJsonObject &job);

// The names of the printers installed on this computer, in the order Qt reports them.
QStringList getPrinters();
