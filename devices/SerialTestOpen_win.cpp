#include "SerialTestOpen.h"

#include <windows.h>

std::optional<qint64> serialTestOpenError(const SerialPortEntry &port)
{
    // The bare port name as enumerated, without the device-namespace prefix.
    const std::wstring name = port.portName.toStdWString();
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return static_cast<qint64>(GetLastError());
    CloseHandle(handle);
    return std::nullopt;
}
