#pragma once

#include <QString>
#include <QStringList>

#include <cups/cups.h>

#include <memory>

// Small helpers for asking the CUPS scheduler directly over IPP, on the calling thread's
// default connection.
namespace CupsQueries {

struct IppDeleter
{
    void operator()(ipp_t *ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDeleter>;

// CUPS knows a queue without the instance that Qt may add after a slash.
QString queueOf(const QString &printer);
// A request about one queue, as this user, asking only for these attributes.
Ipp queueRequest(ipp_op_t operation, const QString &queue, const QStringList &attributes);
// The scheduler's answer, or null when it did not answer with success.
Ipp send(Ipp request);
QStringList values(ipp_attribute_t *attribute);
// State reasons as pages read them: without "none", and without the "-error", "-warning" and
// "-report" that tell how grave a printer's reason is ("media-empty-error" is "media-empty").
QStringList reasons(ipp_attribute_t *attribute);

} // namespace CupsQueries
