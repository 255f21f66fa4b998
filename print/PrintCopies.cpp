#include "PrintCopies.h"

#include "CopyWithdrawal.h"
#include "PrintExceptions.h"
#include "SpoolerStatus.h"

#include <stdexcept>

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

void printCopy(QPrinter &printer, const std::function<void(QPainter &)> &drawCopy)
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
    // Some print engines only report a lost job when the painter ends.
    if (!painter.end())
        throw std::runtime_error("the printer did not finish the copy");
    if (printer.printerState() == QPrinter::Error)
        throw std::runtime_error("the printer is in its error state after the copy");
    if (printer.outputFormat() == QPrinter::NativeFormat && !spoolerTookLastJob())
        throw std::runtime_error("the spooler refused the copy");
}

} // namespace

void printCopies(QPrinter &printer, int copies, const std::function<void(QPainter &)> &drawCopy)
{
    for (int copy = 1; copy <= copies; ++copy)
        printCopy(printer, drawCopy);
}
