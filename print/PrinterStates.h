#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What the spooler says of one installed printer.
struct PrinterState
{
    QString name;
    bool isDefault = false;
    // "idle", "printing", "stopped" or "offline".
    QString state;
    // The spooler's reasons, such as "media-empty", "offline", "door-open" or "paused".
    QStringList reasons;
    bool accepting = false;
    // Whether the driver takes paper sizes of any width and height, as receipts need.
    bool customPaper = false;
};

// Fills in what the spooler says of the named printer: its state, reasons, acceptance and
// custom paper. A printer the spooler cannot say anything of is left offline, without
// reasons, accepting nothing.
void readSpoolerState(PrinterState &printer);

// Every installed printer, in the order Qt lists them.
QList<PrinterState> readPrinterStates();
