#include "PrintDocument.h"

#include "PageDocument.h"

#include <QPrinterInfo>

#include <stdexcept>

namespace {

bool isRowDocument(const QJsonObject &job)
{
    return job.contains(QStringLiteral("doctype"))
        && job.value(QStringLiteral("doctype")).toString() == QStringLiteral("rowbase");
}

} // namespace

void printDocument(const QJsonObject &job)
{
    if (isRowDocument(job))
        throw std::runtime_error("row-based documents cannot be printed yet");
    printPageDocument(job);
}

QStringList getPrinters()
{
    return QPrinterInfo::availablePrinterNames();
}
