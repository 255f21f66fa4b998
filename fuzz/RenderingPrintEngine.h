#pragma once

#include "PrintEngine.h"

// A print engine without printers that still runs the real drawing: every document is drawn,
// once, through the renderer's page set-up and drawing onto a recording device of the
// printers' resolution, so that what the drawing throws reaches the request handler.
class RenderingPrintEngine final : public PrintEngine
{
public:
    // "Kassa" and "PDF"; any other "printer" is unknown, as on a computer with those two.
    QStringList getPrinters() override;
    SpooledJobs printDocument(const QJsonObject &job) override;
    QList<PrinterState> getPrinterStates() override;
};
