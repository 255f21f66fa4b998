#include "SpoolerPrintEngine.h"

#include "PrintDocument.h"

QStringList SpoolerPrintEngine::getPrinters()
{
    return ::getPrinters();
}

SpooledJobs SpoolerPrintEngine::printDocument(const QJsonObject &job)
{
    return ::printDocument(job);
}

QList<PrinterState> SpoolerPrintEngine::getPrinterStates()
{
    return readPrinterStates();
}
