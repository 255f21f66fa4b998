#include "PrinterSetup.h"

#include "JobValues.h"
#include "PrintExceptions.h"

#include <QPrinterInfo>

namespace {

std::unique_ptr<QPrinter> createPrinter()
{
    try {
        return std::make_unique<QPrinter>(QPrinter::HighResolution);
    } catch (...) {
        throw EPrinterFailed();
    }
}

QPrinterInfo findPrinter(const QString &name)
{
    const QPrinterInfo found
        = name.isEmpty() ? QPrinterInfo::defaultPrinter() : QPrinterInfo::printerInfo(name);
    if (found.isNull())
        throw EInvalidPrinter { name };
    return found;
}

} // namespace

std::unique_ptr<QPrinter> setupPrinter(const QJsonObject &job)
{
    std::unique_ptr<QPrinter> printer = createPrinter();
    const QString name = JobValues::text(job, QStringLiteral("printer"));
    const QPrinterInfo found = findPrinter(name);
    if (printer->printerName() != found.printerName())
        printer->setPrinterName(found.printerName());
    // Qt keeps the printer it had when the named one has gone meanwhile (a scheduler
    // restarting): the job must not go to that one instead.
    if (printer->printerName() != found.printerName())
        throw EInvalidPrinter { name };
    printer->setFullPage(true);
    if (job.contains(QStringLiteral("docname")))
        printer->setDocName(JobValues::text(job, QStringLiteral("docname")));
    if (job.contains(QStringLiteral("colormode")))
        printer->setColorMode(
            QPrinter::ColorMode(JobValues::integer(job, QStringLiteral("colormode"), 0)));
    if (job.contains(QStringLiteral("source")))
        printer->setPaperSource(
            QPrinter::PaperSource(JobValues::integer(job, QStringLiteral("source"), 0)));
    return printer;
}
