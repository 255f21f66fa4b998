#include "JobStates.h"

#include "CupsQueries.h"

#include <vector>

using namespace CupsQueries;

namespace {

QString stateName(int state)
{
    switch (state) {
    case IPP_JSTATE_HELD:
        return QStringLiteral("held");
    case IPP_JSTATE_PROCESSING:
        return QStringLiteral("processing");
    case IPP_JSTATE_STOPPED:
        return QStringLiteral("stopped");
    case IPP_JSTATE_CANCELED:
        return QStringLiteral("canceled");
    case IPP_JSTATE_ABORTED:
        return QStringLiteral("aborted");
    case IPP_JSTATE_COMPLETED:
        return QStringLiteral("completed");
    default:
        return QStringLiteral("pending");
    }
}

void addMissing(QStringList &reasons, const QStringList &more)
{
    for (const QString &reason : more) {
        if (!reasons.contains(reason))
            reasons.append(reason);
    }
}

// A job as Get-Jobs lists it, with the reasons its printer had when it ended.
struct ListedJob
{
    int id = 0;
    JobState state;
    QStringList printerReasonsAtEnd;
};

std::optional<QList<ListedJob>> listJobs(const QString &queue, const QList<int> &ids)
{
    Ipp request = queueRequest(IPP_OP_GET_JOBS, queue,
                               { QStringLiteral("job-id"), QStringLiteral("job-state"),
                                 QStringLiteral("job-state-reasons"),
                                 QStringLiteral("job-printer-state-reasons") });
    const std::vector<int> wanted(ids.cbegin(), ids.cend());
    ippAddIntegers(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-ids", int(wanted.size()),
                   wanted.data());
    const Ipp response = send(std::move(request));
    if (!response)
        return std::nullopt;
    QList<ListedJob> listed;
    ListedJob job;
    // Each job's attributes follow one another; a separator without a name ends them.
    for (ipp_attribute_t *attribute = ippFirstAttribute(response.get()); attribute;
         attribute = ippNextAttribute(response.get())) {
        const char *name = ippGetName(attribute);
        if (!name || ippGetGroupTag(attribute) != IPP_TAG_JOB) {
            if (job.id)
                listed.append(job);
            job = ListedJob();
            continue;
        }
        const QLatin1String key(name);
        if (key == QLatin1String("job-id"))
            job.id = ippGetInteger(attribute, 0);
        else if (key == QLatin1String("job-state"))
            job.state.state = stateName(ippGetInteger(attribute, 0));
        else if (key == QLatin1String("job-state-reasons"))
            job.state.reasons = reasons(attribute);
        else if (key == QLatin1String("job-printer-state-reasons"))
            job.printerReasonsAtEnd = reasons(attribute);
    }
    if (job.id)
        listed.append(job);
    return listed;
}

std::optional<QStringList> printerReasons(const QString &queue)
{
    const Ipp response = send(queueRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, queue,
                                           { QStringLiteral("printer-state-reasons") }));
    if (!response)
        return std::nullopt;
    return reasons(ippFindAttribute(response.get(), "printer-state-reasons", IPP_TAG_KEYWORD));
}

} // namespace

// One Get-Jobs for all the jobs and one look at the printer, however many jobs are followed.
// An ended job keeps the reasons its printer had when it ended.
std::optional<QHash<int, JobState>> readJobStates(const QString &printer, const QList<int> &jobs)
{
    const QString queue = queueOf(printer);
    const std::optional<QList<ListedJob>> listed = listJobs(queue, jobs);
    if (!listed)
        return std::nullopt;
    std::optional<QStringList> printerNow;
    QHash<int, JobState> states;
    for (ListedJob job : *listed) {
        if (job.state.ended()) {
            addMissing(job.state.reasons, job.printerReasonsAtEnd);
        } else {
            if (!printerNow)
                printerNow = printerReasons(queue);
            if (!printerNow)
                return std::nullopt;
            addMissing(job.state.reasons, *printerNow);
        }
        states.insert(job.id, job.state);
    }
    return states;
}
