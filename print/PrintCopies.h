#pragma once

#include <QList>
#include <QPainter>
#include <QPrinter>

#include <functional>

// Prints a document `copies` times, each copy with a painter of its own and so as a
// spooler job of its own; the device's own copy count stays unused. A painter that
// cannot begin throws EPrinterFailed; a copy the device or the spooler fails to finish
// throws ESpoolerFailed. Returns the spooler's job id of every copy that revealed one.
QList<int> printCopies(QPrinter &printer, int copies,
                       const std::function<void(QPainter &)> &drawCopy);
