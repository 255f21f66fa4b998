#include "SpoolerStatus.h"

#include <cups/cups.h>

// Qt's CUPS engine submits the job from QPainter::end() on this thread and ignores the
// result; libcups keeps that result per thread.
bool spoolerTookLastJob()
{
    return cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE;
}
