#include "CopyWithdrawal.h"

#include <QPainter>
#include <QPrintEngine>
#include <QPrinter>
#include <QStringList>

#include <cups/cups.h>

namespace {

// Qt's CUPS engine takes extra job options under this key, its own private one.
const auto kCupsOptions = QPrintEngine::PrintEnginePropertyKey(0xfe00);

QByteArray queueName(const QPrinter &printer)
{
    // CUPS knows the queue without the instance that Qt may add after a slash.
    return printer.printerName().section(QLatin1Char('/'), 0, 0).toLocal8Bit();
}

// The newest of this user's held jobs on the queue: the copy just handed over, as the
// agent prints one job at a time.
int newestHeldJob(const QByteArray &queue)
{
    cups_job_t *jobs = nullptr;
    const int count
        = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.constData(), 1, CUPS_WHICHJOBS_ACTIVE);
    int newest = 0;
    for (int i = 0; i < count; ++i) {
        if (jobs[i].state == IPP_JSTATE_HELD && jobs[i].id > newest)
            newest = jobs[i].id;
    }
    cupsFreeJobs(count, jobs);
    return newest;
}

} // namespace

// Qt's CUPS engine ignores abort() and spools whatever the painter ends with. So the copy
// is handed over on hold, where nothing prints, and cancelled there.
void withdrawCopy(QPrinter &printer, QPainter &painter)
{
    printer.abort();
    if (printer.outputFormat() != QPrinter::NativeFormat) {
        painter.end();
        return;
    }
    printer.printEngine()->setProperty(
        kCupsOptions,
        QStringList { QStringLiteral("job-hold-until"), QStringLiteral("indefinite") });
    painter.end();
    const QByteArray queue = queueName(printer);
    if (const int held = newestHeldJob(queue))
        cupsCancelJob2(CUPS_HTTP_DEFAULT, queue.constData(), held, 0);
}
