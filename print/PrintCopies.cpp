#include "PrintCopies.h"

#include "CopyJobs.h"
#include "CopyWithdrawal.h"
#include "PrintExceptions.h"
#include "SpoolerStatus.h"

namespace {

// Qt's PDF-based print engines outlive the painter: the next copy's fresh painter believes
// its pen is the default while the engine still strokes with the last copy's pen. Handing
// the painter's pen over again makes every copy start from the default.
void resendPen(QPainter &painter)
{
    const QPen initial = painter.pen();
    painter.setPen(Qt::NoPen);
    painter.setPen(initial);
}

// The copy's job id, or 0 when the spooler does not reveal it.
int printCopy(QPrinter &printer, CopyJobs &jobs, const std::function<void(QPainter &)> &drawCopy)
{
    QPainter painter;
    if (!painter.begin(&printer))
        throw EPrinterFailed();
    resendPen(painter);
    // A painter that ends hands its copy to the spooler, also while an exception unwinds:
    // a copy that failed part-way is withdrawn before that can happen.
    try {
        drawCopy(painter);
    } catch (...) {
        withdrawCopy(printer, painter);
        throw;
    }
    jobs.copyDrawn(printer);
    // Some print engines only report a lost job when the painter ends.
    if (!painter.end())
        throw ESpoolerFailed("the printer did not finish the copy");
    if (printer.printerState() == QPrinter::Error)
        throw ESpoolerFailed("the printer is in its error state after the copy");
    if (printer.outputFormat() == QPrinter::NativeFormat && !spoolerTookLastJob())
        throw ESpoolerFailed("the spooler refused the copy");
    return jobs.copyEnded(printer);
}

} // namespace

QList<int> printCopies(QPrinter &printer, int copies,
                       const std::function<void(QPainter &)> &drawCopy)
{
    QList<int> jobIds;
    if (copies < 1)
        return jobIds;
    CopyJobs jobs(printer);
    for (int copy = 1; copy <= copies; ++copy) {
        if (const int id = printCopy(printer, jobs, drawCopy))
            jobIds.append(id);
    }
    return jobIds;
}
