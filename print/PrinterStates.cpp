#include "PrinterStates.h"

#include <QPrinterInfo>

QList<PrinterState> readPrinterStates()
{
    const QString defaultName = QPrinterInfo::defaultPrinterName();
    QList<PrinterState> printers;
    for (const QString &name : QPrinterInfo::availablePrinterNames()) {
        PrinterState printer;
        printer.name = name;
        printer.isDefault = name == defaultName;
        printer.state = QStringLiteral("offline");
        readSpoolerState(printer);
        printers.append(printer);
    }
    return printers;
}
