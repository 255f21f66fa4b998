#pragma once

#include "PrinterStates.h"
#include "SpooledJobs.h"

#include <QJsonObject>
#include <QList>
#include <QStringList>

// What the service needs of the print engine, so that requests can be handled with a
// stand-in engine and without any printer.
class PrintEngine
{
public:
    virtual ~PrintEngine() = default;

    // The names of the installed printers, in the system's order.
    virtual QStringList getPrinters() = 0;
    // Prints the "data" object of a print request, or throws the print engine's exceptions.
    // Returns the printer and the spooler's job id of each copy.
    virtual SpooledJobs printDocument(const QJsonObject &job) = 0;
    // What the spooler says of every installed printer, in the system's order.
    virtual QList<PrinterState> getPrinterStates() = 0;
};
