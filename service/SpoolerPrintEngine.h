#pragma once

#include "PrintEngine.h"

// The print engine proper: Qt's print support and the system's spooler.
class SpoolerPrintEngine final : public PrintEngine
{
public:
    QStringList getPrinters() override;
    void printDocument(const QJsonObject &job) override;
};
