#include "CupsQueries.h"

#include <QByteArrayList>

#include <vector>

namespace CupsQueries {

QString queueOf(const QString &printer)
{
    return printer.section(QLatin1Char('/'), 0, 0);
}

Ipp queueRequest(ipp_op_t operation, const QString &queue, const QStringList &attributes)
{
    Ipp request(ippNewRequest(operation));
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/printers/%s", queue.toUtf8().constData());
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    QByteArrayList names;
    std::vector<const char *> pointers;
    for (const QString &attribute : attributes)
        names.append(attribute.toLatin1());
    for (const QByteArray &name : names)
        pointers.push_back(name.constData());
    ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(pointers.size()), nullptr, pointers.data());
    return request;
}

Ipp send(Ipp request)
{
    Ipp response(cupsDoRequest(CUPS_HTTP_DEFAULT, request.release(), "/"));
    if (!response || ippGetStatusCode(response.get()) > IPP_STATUS_OK_EVENTS_COMPLETE)
        return nullptr;
    return response;
}

QStringList values(ipp_attribute_t *attribute)
{
    QStringList texts;
    for (int i = 0; i < ippGetCount(attribute); ++i)
        texts.append(QString::fromUtf8(ippGetString(attribute, i, nullptr)));
    return texts;
}

QStringList reasons(ipp_attribute_t *attribute)
{
    static const char *const kGravities[] = { "-error", "-warning", "-report" };
    QStringList found;
    for (QString reason : values(attribute)) {
        if (reason == QLatin1String("none"))
            continue;
        for (const char *gravity : kGravities) {
            if (reason.endsWith(QLatin1String(gravity))) {
                reason.chop(int(qstrlen(gravity)));
                break;
            }
        }
        if (!found.contains(reason))
            found.append(reason);
    }
    return found;
}

} // namespace CupsQueries
