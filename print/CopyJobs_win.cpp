#include "CopyJobs.h"

#include "WinSpooler.h"

#include <QPrinter>
#include <QVector>

namespace {

// The printer's jobs, read at level 1.
QVector<JOB_INFO_1W> spoolerJobs(HANDLE printer, QByteArray &buffer)
{
    DWORD needed = 0;
    DWORD count = 0;
    EnumJobsW(printer, 0, MAXDWORD, 1, nullptr, 0, &needed, &count);
    if (needed == 0)
        return {};
    buffer.resize(int(needed));
    if (!EnumJobsW(printer, 0, MAXDWORD, 1, reinterpret_cast<LPBYTE>(buffer.data()), needed,
                   &needed, &count))
        return {};
    const auto *jobs = reinterpret_cast<const JOB_INFO_1W *>(buffer.constData());
    return QVector<JOB_INFO_1W>(jobs, jobs + count);
}

// The newest job of the printer that is still being spooled under this document name, or
// under any name when the document has none.
int spoolingJob(const QString &printerName, const QString &documentName)
{
    const WinSpooler::Printer printer(printerName);
    if (!printer.handle())
        return 0;
    QByteArray buffer;
    int newest = 0;
    for (const JOB_INFO_1W &job : spoolerJobs(printer.handle(), buffer)) {
        const QString name = job.pDocument ? QString::fromWCharArray(job.pDocument) : QString();
        if ((job.Status & JOB_STATUS_SPOOLING) && (documentName.isEmpty() || name == documentName))
            newest = qMax(newest, int(job.JobId));
    }
    return newest;
}

} // namespace

// Qt's Windows engine starts the spooler's document when the painter begins and drops the
// job id it gets. Until the painter ends, the copy is the printer's job that is still being
// spooled under the document's name; the agent spools one copy at a time.
CopyJobs::CopyJobs(const QPrinter &printer)
{
    if (printer.outputFormat() == QPrinter::NativeFormat)
        m_queue = printer.printerName();
}

void CopyJobs::copyDrawn(const QPrinter &printer)
{
    m_jobId = m_queue.isEmpty() ? 0 : spoolingJob(m_queue, printer.docName());
}

int CopyJobs::copyEnded(const QPrinter &)
{
    return m_jobId;
}
