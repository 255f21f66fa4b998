#pragma once

#include "PrintEngine.h"

// The print engine proper: Qt's print support and the system's spooler.
class SpoolerPrintEngine final : public PrintEngine
{
public:
    QStringList getPrinters() override;
    SpooledJobs printDocument(const QJsonObject &job) override;
    QList<PrinterState> getPrinterStates() override;
};
