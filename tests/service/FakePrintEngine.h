#pragma once

#include "PrintEngine.h"

#include <QJsonObject>
#include <QList>

#include <functional>

// A print engine without printers: it lists what the test gives it, records each job,
// and fails or waits while printing as the test asks.
class FakePrintEngine : public PrintEngine
{
public:
    QStringList printers;
    std::function<void()> duringPrint;
    QList<QJsonObject> printedJobs;

    QStringList getPrinters() override { return printers; }

    void printDocument(const QJsonObject &job) override
    {
        printedJobs.append(job);
        if (duringPrint)
            duringPrint();
    }
};
