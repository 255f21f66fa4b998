#include "SpoolerPrintEngine.h"

#include "PrintDocument.h"

QStringList SpoolerPrintEngine::getPrinters()
{
    return ::getPrinters();
}

SpooledJobs SpoolerPrintEngine::printDocument(const QJsonObject &job, JobIds jobIds)
{
    return ::printDocument(job, jobIds);
}

QList<PrinterState> SpoolerPrintEngine::getPrinterStates()
{
    return readPrinterStates();
}
