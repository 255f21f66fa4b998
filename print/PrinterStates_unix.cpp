#include "PrinterStates.h"

#include "CupsQueries.h"

using namespace CupsQueries;

namespace {

QString stateName(int state, const QStringList &reasons)
{
    if (reasons.contains(QLatin1String("offline")))
        return QStringLiteral("offline");
    switch (state) {
    case IPP_PSTATE_PROCESSING:
        return QStringLiteral("printing");
    case IPP_PSTATE_STOPPED:
        return QStringLiteral("stopped");
    default:
        return QStringLiteral("idle");
    }
}

// CUPS lists a driver's range of custom sizes among the media as "custom_min_..." and
// "custom_max_..." (PWG 5101.1 names).
bool takesCustomSizes(ipp_attribute_t *media)
{
    for (const QString &name : values(media)) {
        if (name.startsWith(QLatin1String("custom_min_")))
            return true;
    }
    return false;
}

} // namespace

void readSpoolerState(PrinterState &printer)
{
    const QString &name = printer.name;
    const Ipp response = send(queueRequest(
        IPP_OP_GET_PRINTER_ATTRIBUTES, queueOf(name),
        { QStringLiteral("printer-state"), QStringLiteral("printer-state-reasons"),
          QStringLiteral("printer-is-accepting-jobs"), QStringLiteral("media-supported") }));
    if (!response)
        return;
    ipp_t *attributes = response.get();
    printer.reasons
        = reasons(ippFindAttribute(attributes, "printer-state-reasons", IPP_TAG_KEYWORD));
    printer.state
        = stateName(ippGetInteger(ippFindAttribute(attributes, "printer-state", IPP_TAG_ENUM), 0),
                    printer.reasons);
    printer.accepting = ippGetBoolean(
        ippFindAttribute(attributes, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN), 0);
    printer.customPaper
        = takesCustomSizes(ippFindAttribute(attributes, "media-supported", IPP_TAG_ZERO));
}
