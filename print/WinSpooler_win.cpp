#include "WinSpooler.h"

namespace WinSpooler {

Printer::Printer(const QString &name)
{
    if (!OpenPrinterW(reinterpret_cast<LPWSTR>(const_cast<ushort *>(name.utf16())), &m_handle,
                      nullptr))
        m_handle = nullptr;
}

Printer::~Printer()
{
    if (m_handle)
        ClosePrinter(m_handle);
}

const PRINTER_INFO_2W *Printer::info(QByteArray &buffer) const
{
    if (!m_handle)
        return nullptr;
    DWORD needed = 0;
    GetPrinterW(m_handle, 2, nullptr, 0, &needed);
    if (needed == 0)
        return nullptr;
    buffer.resize(int(needed));
    if (!GetPrinterW(m_handle, 2, reinterpret_cast<LPBYTE>(buffer.data()), needed, &needed))
        return nullptr;
    return reinterpret_cast<const PRINTER_INFO_2W *>(buffer.constData());
}

QStringList printerReasons(DWORD status)
{
    static const struct
    {
        DWORD bit;
        const char *reason;
    } kReasons[] = {
        { PRINTER_STATUS_PAUSED, "paused" },
        { PRINTER_STATUS_ERROR, "other" },
        { PRINTER_STATUS_PAPER_JAM, "media-jam" },
        { PRINTER_STATUS_PAPER_OUT, "media-empty" },
        { PRINTER_STATUS_PAPER_PROBLEM, "media-needed" },
        { PRINTER_STATUS_OFFLINE, "offline" },
        { PRINTER_STATUS_NOT_AVAILABLE, "offline" },
        { PRINTER_STATUS_OUTPUT_BIN_FULL, "output-area-full" },
        { PRINTER_STATUS_TONER_LOW, "toner-low" },
        { PRINTER_STATUS_NO_TONER, "toner-empty" },
        { PRINTER_STATUS_DOOR_OPEN, "door-open" },
        { PRINTER_STATUS_USER_INTERVENTION, "other" },
        { PRINTER_STATUS_OUT_OF_MEMORY, "other" },
    };
    QStringList reasons;
    for (const auto &known : kReasons) {
        const QString reason = QString::fromLatin1(known.reason);
        if ((status & known.bit) && !reasons.contains(reason))
            reasons.append(reason);
    }
    return reasons;
}

} // namespace WinSpooler
