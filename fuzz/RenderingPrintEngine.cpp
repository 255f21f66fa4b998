#include "RenderingPrintEngine.h"

#include "DocumentRenderer.h"
#include "JobValues.h"
#include "PrintBounds.h"
#include "PrintExceptions.h"
#include "RecordingPaintDevice.h"

namespace {

// The resolution the agent's printers draw at.
constexpr int kPrinterDotsPerInch = 1200;

} // namespace

QStringList RenderingPrintEngine::getPrinters()
{
    return { QStringLiteral("Kassa"), QStringLiteral("PDF") };
}

SpooledJobs RenderingPrintEngine::printDocument(const QJsonObject &job)
{
    const QString printer = JobValues::text(job, QStringLiteral("printer"));
    if (!printer.isEmpty() && !getPrinters().contains(printer))
        throw EInvalidPrinter { printer };
    checkPrintBounds(job);
    RecordingPaintDevice device(kPrinterDotsPerInch);
    renderDocument(job, device);
    return { printer, {} };
}

QList<PrinterState> RenderingPrintEngine::getPrinterStates()
{
    return {};
}
