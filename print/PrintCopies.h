#pragma once

#include <QPainter>
#include <QPrinter>

#include <functional>

// Prints a document `copies` times, each copy with a painter of its own and so as a
// spooler job of its own; the device's own copy count stays unused. A painter that
// cannot begin throws EPrinterFailed; a copy the device fails to finish throws
// std::runtime_error.
void printCopies(QPrinter &printer, int copies, const std::function<void(QPainter &)> &drawCopy);
