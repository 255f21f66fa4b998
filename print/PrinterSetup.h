#pragma once

#include <QJsonObject>
#include <QPrinter>

#include <memory>

// Creates the job's printer device and configures it from the settings both document
// kinds share: printer choice, full-page mode, document name, colour mode, paper source.
// Throws EPrinterFailed or EInvalidPrinter.
std::unique_ptr<QPrinter> setupPrinter(const QJsonObject &job);
