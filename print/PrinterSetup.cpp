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

// A present key's number as an enum value within [first, last]; nothing otherwise.
template<typename Enum>
std::optional<Enum> enumSetting(const QJsonObject &job, const QString &key, Enum first, Enum last)
{
    if (!job.contains(key))
        return std::nullopt;
    return JobValues::enumValue(JobValues::integer(job, key, 0), first, last);
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
    // Numbers outside Qt's colour modes and paper sources leave the device's own setting;
    // Qt's CUPS engine made nothing of them either.
    if (const auto mode
        = enumSetting(job, QStringLiteral("colormode"), QPrinter::GrayScale, QPrinter::Color))
        printer->setColorMode(*mode);
    if (const auto source
        = enumSetting(job, QStringLiteral("source"), QPrinter::OnlyOne, QPrinter::LastPaperSource))
        printer->setPaperSource(*source);
    return printer;
}
