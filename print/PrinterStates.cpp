#include "PrinterStates.h"

#include <QPrinterInfo>

QList<PrinterState> readPrinterStates()
{
    const QString defaultName = QPrinterInfo::defaultPrinterName();
    QList<PrinterState> printers;
    for (const QString &name : QPrinterInfo::availablePrinterNames())
        printers.append(readPrinterState(name, defaultName));
    return printers;
}
