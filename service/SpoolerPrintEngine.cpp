#include "SpoolerPrintEngine.h"

#include "PrintDocument.h"

QStringList SpoolerPrintEngine::getPrinters()
{
    return ::getPrinters();
}

void SpoolerPrintEngine::printDocument(const QJsonObject &job)
{
    ::printDocument(job);
}
