#pragma once

#include <QBrush>
#include <QFont>
#include <QLineF>
#include <QList>
#include <QPagedPaintDevice>
#include <QPaintEngine>
#include <QPen>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QTransform>

#include <memory>

// One drawing call as the paint engine received it, in device dots, with the painter's state
// in force.
struct RecordedCall
{
    // Polygon: any closed polygon, kept as its bounding rectangle.
    enum Kind { Rect, Line, Text, Polygon };

    Kind kind = Rect;
    int page = 0;
    QRectF rect;
    QLineF line;
    // Text: the baseline start of one laid-out line, and its characters.
    QPointF position;
    QString text;
    QPen pen;
    QBrush brush;
    QFont font;
    bool clipped = false;
    QRectF clipRect;
    // From the painter's coordinates to the device's, already applied to the shapes above.
    QTransform transform;
};

class RecordingPaintEngine;

// A paged paint device of a chosen resolution that keeps every rectangle, line, polygon and
// line of text drawn on it, so that tests can check positions in dots exactly.
class RecordingPaintDevice : public QPagedPaintDevice
{
public:
    explicit RecordingPaintDevice(int dotsPerInch = 600, QSizeF pageSizeMm = QSizeF(210, 297));
    ~RecordingPaintDevice() override;

    QPaintEngine *paintEngine() const override;
    bool newPage() override;

    const QList<RecordedCall> &calls() const;
    QList<RecordedCall> calls(RecordedCall::Kind kind) const;
    int pageBreaks() const { return m_page; }
    int dotsPerInch() const { return m_dotsPerInch; }

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    int m_dotsPerInch;
    QSizeF m_pageSizeMm;
    int m_page = 0;
    std::unique_ptr<RecordingPaintEngine> m_engine;
};
