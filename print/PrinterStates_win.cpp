#include "PrinterStates.h"

#include "WinSpooler.h"

#include <QVector>

namespace {

QString stateName(const PRINTER_INFO_2W &info)
{
    if ((info.Status & (PRINTER_STATUS_OFFLINE | PRINTER_STATUS_NOT_AVAILABLE))
        || (info.Attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE))
        return QStringLiteral("offline");
    if (info.Status & PRINTER_STATUS_PAUSED)
        return QStringLiteral("stopped");
    if ((info.Status & (PRINTER_STATUS_PRINTING | PRINTER_STATUS_PROCESSING)) || info.cJobs > 0)
        return QStringLiteral("printing");
    return QStringLiteral("idle");
}

// A driver that takes sizes of any width and height lists the user-defined paper among its
// papers.
bool takesCustomSizes(const QString &name, const PRINTER_INFO_2W &info)
{
    const auto *device = reinterpret_cast<LPCWSTR>(name.utf16());
    const int count = DeviceCapabilitiesW(device, info.pPortName, DC_PAPERS, nullptr, nullptr);
    if (count <= 0)
        return false;
    QVector<WORD> papers(count);
    if (DeviceCapabilitiesW(device, info.pPortName, DC_PAPERS,
                            reinterpret_cast<LPWSTR>(papers.data()), nullptr)
        <= 0)
        return false;
    return papers.contains(DMPAPER_USER);
}

} // namespace

void readSpoolerState(PrinterState &printer)
{
    const QString &name = printer.name;
    const WinSpooler::Printer opened(name);
    QByteArray buffer;
    const PRINTER_INFO_2W *info = opened.info(buffer);
    if (!info)
        return;
    printer.state = stateName(*info);
    printer.reasons = WinSpooler::printerReasons(info->Status);
    if ((info->Attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE)
        && !printer.reasons.contains(QLatin1String("offline")))
        printer.reasons.append(QStringLiteral("offline"));
    printer.accepting = !(info->Status & PRINTER_STATUS_PENDING_DELETION);
    printer.customPaper = takesCustomSizes(name, *info);
}
