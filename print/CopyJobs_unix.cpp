#include "CopyJobs.h"

#include "CupsQueries.h"

#include <QPrinter>

using namespace CupsQueries;

namespace {

// How many jobs the scheduler lists in one answer unless asked for fewer.
constexpr int kJobsPerAnswer = 500;

// The highest id among this user's jobs on the queue from `firstId` on, or 0 for none; the
// scheduler lists them in id order, a page at a time.
int newestJobFrom(const QString &queue, int firstId)
{
    int newest = 0;
    for (;;) {
        Ipp request = queueRequest(IPP_OP_GET_JOBS, queue, { QStringLiteral("job-id") });
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr,
                     "all");
        ippAddBoolean(request.get(), IPP_TAG_OPERATION, "my-jobs", 1);
        ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "first-job-id",
                      qMax(firstId, 1));
        ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "limit", kJobsPerAnswer);
        const Ipp response = send(std::move(request));
        if (!response)
            return newest;
        int listed = 0;
        for (ipp_attribute_t *id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER); id;
             id = ippFindNextAttribute(response.get(), "job-id", IPP_TAG_INTEGER)) {
            newest = qMax(newest, ippGetInteger(id, 0));
            ++listed;
        }
        if (listed < kJobsPerAnswer)
            return newest;
        firstId = newest + 1;
    }
}

} // namespace

// Qt's CUPS engine submits each copy when its painter ends and drops the job id that the
// scheduler answers with. Job ids only grow, and the agent prints one copy at a time, so the
// copy's job is this user's newest on the queue, beyond the newest one before it.
CopyJobs::CopyJobs(const QPrinter &printer)
{
    if (printer.outputFormat() != QPrinter::NativeFormat)
        return;
    m_queue = queueOf(printer.printerName());
    m_jobId = newestJobFrom(m_queue, 1);
}

void CopyJobs::copyDrawn(const QPrinter &) { }

int CopyJobs::copyEnded(const QPrinter &)
{
    if (m_queue.isEmpty())
        return 0;
    const int newest = newestJobFrom(m_queue, m_jobId + 1);
    if (newest <= m_jobId)
        return 0;
    m_jobId = newest;
    return newest;
}
