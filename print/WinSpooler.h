#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <windows.h>

// Small helpers for asking the Windows spooler (winspool) directly.
namespace WinSpooler {

// An open printer, closed with this object; null when it could not be opened.
class Printer
{
public:
    explicit Printer(const QString &name);
    ~Printer();
    Printer(const Printer &) = delete;
    Printer &operator=(const Printer &) = delete;

    HANDLE handle() const { return m_handle; }
    // The printer's PRINTER_INFO_2, or null; it lives in `buffer`.
    const PRINTER_INFO_2W *info(QByteArray &buffer) const;

private:
    HANDLE m_handle = nullptr;
};

// A printer's status bits as the reasons that CUPS would name.
QStringList printerReasons(DWORD status);

} // namespace WinSpooler
