#pragma once

#include <QPageLayout>
#include <QPaintEngine>
#include <QPrintEngine>
#include <QPrinter>

// A print engine that keeps only the pen colour of each line and the page size it is given, and
// fails on demand: painting that cannot begin, a refused page break, a painter that cannot end, an
// error state once a copy has ended.
class FakePrintDevice : public QPaintEngine, public QPrintEngine
{
public:
    bool beginResult = true;
    bool newPageResult = true;
    bool endResult = true;
    QPrinter::PrinterState stateAfterEnd = QPrinter::Idle;

    int begins = 0;
    int newPages = 0;
    int ends = 0;
    int aborts = 0;
    // Painters ended once the device had been aborted.
    int endsAfterAbort = 0;
    // The colour of the pen each line was stroked with, as the painter handed it over.
    QList<QColor> lineColours;

    bool begin(QPaintDevice *) override
    {
        ++begins;
        m_state = beginResult ? QPrinter::Active : QPrinter::Error;
        return beginResult;
    }
    bool end() override
    {
        ++ends;
        endsAfterAbort += aborts > 0 ? 1 : 0;
        m_state = stateAfterEnd;
        return endResult;
    }
    void updateState(const QPaintEngineState &state) override
    {
        if (state.state() & QPaintEngine::DirtyPen)
            m_pen = state.pen();
    }
    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override { }
    using QPaintEngine::drawLines;
    void drawLines(const QLineF *, int) override { lineColours.append(m_pen.color()); }
    Type type() const override { return QPaintEngine::User; }

    void setProperty(PrintEnginePropertyKey key, const QVariant &value) override
    {
        if (key == PPK_QPageSize)
            m_layout.setPageSize(value.value<QPageSize>());
    }
    QVariant property(PrintEnginePropertyKey key) const override
    {
        return key == PPK_QPageLayout ? QVariant::fromValue(m_layout) : QVariant();
    }
    bool newPage() override
    {
        ++newPages;
        return newPageResult;
    }
    bool abort() override
    {
        ++aborts;
        m_state = QPrinter::Aborted;
        return true;
    }
    int metric(QPaintDevice::PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case QPaintDevice::PdmDpiX:
        case QPaintDevice::PdmDpiY:
        case QPaintDevice::PdmPhysicalDpiX:
        case QPaintDevice::PdmPhysicalDpiY:
            return 600;
        case QPaintDevice::PdmDevicePixelRatio:
            return 1;
        case QPaintDevice::PdmDevicePixelRatioScaled:
            return int(QPaintDevice::devicePixelRatioFScale());
        case QPaintDevice::PdmDepth:
            return 32;
        default:
            return 1000;
        }
    }
    QPrinter::PrinterState printerState() const override { return m_state; }

private:
    QPrinter::PrinterState m_state = QPrinter::Idle;
    QPen m_pen;
    QPageLayout m_layout { QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF() };
};

// Keeps the fake device alive for as long as the printer that uses it.
struct FakePrintDeviceHolder
{
    FakePrintDevice device;
};

class FakePrinter : private FakePrintDeviceHolder, public QPrinter
{
public:
    // A file printer: its engine reports everything itself, no spooler is asked.
    FakePrinter()
    {
        setOutputFormat(QPrinter::PdfFormat);
        setEngines(&device, &device);
    }

    FakePrintDevice &fake() { return device; }
};
