#pragma once

#include <QJsonObject>
#include <QStringList>

#include "SpooledJobs.h"

// Prints the "data" object of a print request, page-based or row-based by its
// "doctype". Returns, with the printer and the copies' job ids, when every copy has reached
// the spooler; throws EOverLimit before anything is printed, EPrinterFailed,
// EInvalidPrinter, EInvalidPaperSize, EInvalidOrientation, ESpoolerFailed, or what Qt or the
// system threw while drawing.
SpooledJobs printDocument(const QJsonObject &job);

// Whether the document is a row-based receipt ("doctype" "rowbase") or else page-based.
bool isRowDocument(const QJsonObject &job);

// The names of the printers installed on this computer, in the order Qt reports them.
QStringList getPrinters();
