#pragma once

#include "PrintEngine.h"

#include <QJsonObject>
#include <QList>

#include <functional>

// A print engine without printers: it lists what the test gives it, records each job,
// hands back the job ids it is given, and fails or waits while printing as the test asks.
class FakePrintEngine : public PrintEngine
{
public:
    QStringList printers;
    std::function<void()> duringPrint;
    QList<QJsonObject> printedJobs;
    SpooledJobs spooled;
    QList<PrinterState> printerStates;

    QStringList getPrinters() override { return printers; }

    SpooledJobs printDocument(const QJsonObject &job) override
    {
        printedJobs.append(job);
        if (duringPrint)
            duringPrint();
        return spooled;
    }

    QList<PrinterState> getPrinterStates() override { return printerStates; }
};
