#pragma once

class QPainter;
class QPrinter;

// Ends a copy whose drawing failed without letting it print: the device is aborted before
// the painter ends, and where the print engine cannot abort, the spooler is kept from
// printing what the painter hands it.
void withdrawCopy(QPrinter &printer, QPainter &painter);
