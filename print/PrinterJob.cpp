#include "PrinterJob.h"

#include "PrintExceptions.h"
#include "PrinterSetup.h"

#include <memory>

void runPrinterJob(const QJsonObject &job, const std::function<void(QPrinter &)> &print)
{
    std::unique_ptr<QPrinter> printer;
    try {
        printer = setupPrinter(job);
        print(*printer);
    } catch (const EPrinterFailed &failure) {
        throw failure;
    } catch (const EInvalidPrinter &failure) {
        throw failure;
    } catch (...) {
        if (printer)
            printer->abort();
        throw;
    }
}
