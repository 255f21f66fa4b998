#include "PrintDocument.h"

#include "PageDocument.h"
#include "PrintBounds.h"
#include "RowDocument.h"

#include <QPrinterInfo>

bool isRowDocument(const QJsonObject &job)
{
    return job.contains(QStringLiteral("doctype"))
        && job.value(QStringLiteral("doctype")).toString() == QStringLiteral("rowbase");
}

SpooledJobs printDocument(const QJsonObject &job)
{
    checkPrintBounds(job);
    return isRowDocument(job) ? printRowDocument(job) : printPageDocument(job);
}

QStringList getPrinters()
{
    return QPrinterInfo::availablePrinterNames();
}
