#include "RecordingPaintDevice.h"

#include <QPainter>
#include <QPolygonF>
#include <QTextItem>

#include <climits>

class RecordingPaintEngine : public QPaintEngine
{
public:
    explicit RecordingPaintEngine(const int &page)
        : QPaintEngine(QPaintEngine::AllFeatures)
        , m_page(page)
    {
    }

    QList<RecordedCall> calls;

    bool begin(QPaintDevice *) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState &) override { }
    Type type() const override { return QPaintEngine::User; }
    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override { }

    void drawRects(const QRectF *rects, int rectCount) override
    {
        for (int i = 0; i < rectCount; ++i) {
            RecordedCall call = stateNow(RecordedCall::Rect);
            call.rect = call.transform.mapRect(rects[i]);
            calls.append(call);
        }
    }

    void drawLines(const QLineF *lines, int lineCount) override
    {
        for (int i = 0; i < lineCount; ++i) {
            RecordedCall call = stateNow(RecordedCall::Line);
            call.line = call.transform.map(lines[i]);
            calls.append(call);
        }
    }

    // A replayed picture draws its lines as polylines: each segment counts as a line.
    void drawPolygon(const QPointF *points, int pointCount, PolygonDrawMode mode) override
    {
        if (mode != PolylineMode) {
            RecordedCall call = stateNow(RecordedCall::Polygon);
            call.rect = call.transform.map(QPolygonF(QVector<QPointF>(points, points + pointCount)))
                            .boundingRect();
            calls.append(call);
            return;
        }
        for (int i = 1; i < pointCount; ++i) {
            RecordedCall call = stateNow(RecordedCall::Line);
            call.line = call.transform.map(QLineF(points[i - 1], points[i]));
            calls.append(call);
        }
    }

    void drawTextItem(const QPointF &position, const QTextItem &textItem) override
    {
        RecordedCall call = stateNow(RecordedCall::Text);
        call.position = call.transform.map(position);
        call.text = textItem.text();
        calls.append(call);
    }

private:
    RecordedCall stateNow(RecordedCall::Kind kind) const
    {
        RecordedCall call;
        call.kind = kind;
        call.page = m_page;
        call.pen = painter()->pen();
        call.brush = painter()->brush();
        call.font = painter()->font();
        call.transform = painter()->combinedTransform();
        call.clipped = painter()->hasClipping();
        if (call.clipped)
            call.clipRect = painter()->clipBoundingRect();
        return call;
    }

    const int &m_page;
};

// The public constructor is the only one Qt offers outside its own classes.
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
RecordingPaintDevice::RecordingPaintDevice(int dotsPerInch, QSizeF pageSizeMm)
    : m_dotsPerInch(dotsPerInch)
    , m_pageSizeMm(pageSizeMm)
    , m_engine(std::make_unique<RecordingPaintEngine>(m_page))
{
}
QT_WARNING_POP

RecordingPaintDevice::~RecordingPaintDevice() = default;

QPaintEngine *RecordingPaintDevice::paintEngine() const
{
    return m_engine.get();
}

bool RecordingPaintDevice::newPage()
{
    ++m_page;
    return true;
}

const QList<RecordedCall> &RecordingPaintDevice::calls() const
{
    return m_engine->calls;
}

QList<RecordedCall> RecordingPaintDevice::calls(RecordedCall::Kind kind) const
{
    QList<RecordedCall> ofKind;
    for (const RecordedCall &call : m_engine->calls) {
        if (call.kind == kind)
            ofKind.append(call);
    }
    return ofKind;
}

int RecordingPaintDevice::metric(PaintDeviceMetric metric) const
{
    const auto dots = [this](double mm) { return qRound(mm / 25.4 * m_dotsPerInch); };
    switch (metric) {
    case PdmWidth:
        return dots(m_pageSizeMm.width());
    case PdmHeight:
        return dots(m_pageSizeMm.height());
    case PdmWidthMM:
        return qRound(m_pageSizeMm.width());
    case PdmHeightMM:
        return qRound(m_pageSizeMm.height());
    case PdmNumColors:
        return INT_MAX;
    case PdmDepth:
        return 32;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
        return m_dotsPerInch;
    case PdmDevicePixelRatio:
        return 1;
    case PdmDevicePixelRatioScaled:
        return int(devicePixelRatioFScale());
    }
    return 0;
}
