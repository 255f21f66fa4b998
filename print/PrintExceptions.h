#pragma once

#include <QString>
#include <QtGlobal>

#include <stdexcept>

// The print engine reports failure only by throwing these by value; the service catches
// them by reference and turns each into the text of its log line.

// The printer device cannot be created, or painting on it cannot begin. Its life is
// traced on the debug channel, one line per construction, copy and destruction.
class EPrinterFailed
{
public:
    EPrinterFailed();
    EPrinterFailed(const EPrinterFailed &other);
    ~EPrinterFailed();
    EPrinterFailed &operator=(const EPrinterFailed &) = delete;
};

// The requested printer is unknown; an empty name means that no default printer is set.
class EInvalidPrinter
{
public:
    QString printerName;
};

// The device refuses the page size.
class EInvalidPaperSize
{
};

// The device refuses the orientation.
class EInvalidOrientation
{
};

// The request asks for more than the agent prints in one request (PrintBounds.h): `count`
// copies, pages, items or characters over all its copies, font faces, or points of its
// largest font, beyond `limit`.
class EOverLimit
{
public:
    enum What { Copies, Pages, Items, Characters, FontFaces, FontSize };
    What what;
    qint64 count;
    qint64 limit;
};

// The device or the spooler did not finish a copy: the queue refuses jobs, the spooler is
// gone, or the device reports its error state.
class ESpoolerFailed : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};
