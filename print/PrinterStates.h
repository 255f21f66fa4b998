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

// What the spooler says of the named printer; `defaultName` is the default printer's name.
// A printer the spooler cannot say anything of is offline, without reasons, and accepts
// nothing.
PrinterState readPrinterState(const QString &name, const QString &defaultName);

// Every installed printer, in the order Qt lists them.
QList<PrinterState> readPrinterStates();
