#pragma once

#include <QJsonObject>
#include <QPrinter>

#include <functional>

// Runs one print job on the device that setupPrinter makes for it. EPrinterFailed and
// EInvalidPrinter pass on as fresh copies; any other failure aborts the device's job
// first and passes on unchanged. The device is gone when this returns or throws.
void runPrinterJob(const QJsonObject &job, const std::function<void(QPrinter &)> &print);
