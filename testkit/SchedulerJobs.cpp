#include "SchedulerJobs.h"

#include "CupsQueries.h"

#include <algorithm>
#include <memory>

namespace SchedulerJobs {

namespace {

constexpr int kAnswerTimeoutMs = 30000;

struct HttpCloser
{
    void operator()(http_t *http) const { httpClose(http); }
};
using Connection = std::unique_ptr<http_t, HttpCloser>;

using CupsQueries::Ipp;

Connection connectTo(const QString &server)
{
    // A socket path names no port; host:port does.
    QString host = server;
    int port = ippPort();
    const int colon = server.lastIndexOf(QLatin1Char(':'));
    if (!server.startsWith(QLatin1Char('/')) && colon > 0) {
        host = server.left(colon);
        port = server.mid(colon + 1).toInt();
    }
    Connection http(httpConnect2(host.toUtf8().constData(), port, nullptr, AF_UNSPEC,
                                 HTTP_ENCRYPTION_IF_REQUESTED, 1, kAnswerTimeoutMs, nullptr));
    // A scheduler that hangs fails the request rather than the test's whole run.
    if (http)
        httpSetTimeout(http.get(), kAnswerTimeoutMs / 1000.0, nullptr, nullptr);
    return http;
}

Ipp request(ipp_op_t operation, std::initializer_list<const char *> attributes)
{
    Ipp request(ippNewRequest(operation));
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 "ipp://localhost/");
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(attributes.size()), nullptr, attributes.begin());
    return request;
}

Ipp answer(http_t *http, Ipp request)
{
    Ipp response(cupsDoRequest(http, request.release(), "/"));
    if (!response || ippGetStatusCode(response.get()) > IPP_STATUS_OK_EVENTS_COMPLETE)
        return nullptr;
    return response;
}

// Get-Jobs leaves job-name out once the scheduler has unloaded an ended job; Get-Job-Attributes
// loads it again. Empty when the job is gone.
QString titleOf(http_t *http, int jobId)
{
    Ipp ask = request(IPP_OP_GET_JOB_ATTRIBUTES, { "job-name" });
    ippAddInteger(ask.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    const Ipp response = answer(http, std::move(ask));
    ipp_attribute_t *name
        = response ? ippFindAttribute(response.get(), "job-name", IPP_TAG_NAME) : nullptr;
    return name ? QString::fromUtf8(ippGetString(name, 0, nullptr)) : QString();
}

// The jobs of one Get-Jobs answer, an attribute group each.
QList<PrivateSpooler::Job> jobsOf(ipp_t *response)
{
    QList<PrivateSpooler::Job> jobs;
    PrivateSpooler::Job job;
    auto flush = [&] {
        if (job.id > 0)
            jobs.append(job);
        job = {};
    };
    for (ipp_attribute_t *attribute = ippFirstAttribute(response); attribute;
         attribute = ippNextAttribute(response)) {
        const char *name = ippGetName(attribute);
        if (!name) {
            flush();
            continue;
        }
        const QLatin1String key(name);
        if (key == QLatin1String("job-id")) {
            job.id = ippGetInteger(attribute, 0);
        } else if (key == QLatin1String("job-state")) {
            job.state = QLatin1String(ippEnumString("job-state", ippGetInteger(attribute, 0)));
        } else if (key == QLatin1String("job-printer-uri")) {
            job.queue = QString::fromUtf8(ippGetString(attribute, 0, nullptr))
                            .section(QLatin1Char('/'), -1);
        } else if (key == QLatin1String("job-name")) {
            job.title = QString::fromUtf8(ippGetString(attribute, 0, nullptr));
        }
    }
    flush();
    return jobs;
}

} // namespace

std::optional<QList<PrivateSpooler::Job>> list(const QString &server, QString *error)
{
    const Connection http = connectTo(server);
    Ipp jobs = request(IPP_OP_GET_JOBS, { "job-id", "job-state", "job-printer-uri", "job-name" });
    ippAddString(jobs.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    const Ipp response = http ? answer(http.get(), std::move(jobs)) : nullptr;
    if (!response) {
        *error = QStringLiteral("the scheduler at %1 does not answer: %2")
                     .arg(server, QString::fromUtf8(cupsLastErrorString()));
        return std::nullopt;
    }
    QList<PrivateSpooler::Job> listed = jobsOf(response.get());
    for (PrivateSpooler::Job &job : listed) {
        if (job.title.isEmpty())
            job.title = titleOf(http.get(), job.id);
    }
    std::sort(
        listed.begin(), listed.end(),
        [](const PrivateSpooler::Job &a, const PrivateSpooler::Job &b) { return a.id < b.id; });
    return listed;
}

} // namespace SchedulerJobs
