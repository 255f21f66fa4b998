#pragma once

#include <QJsonObject>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPicture>
#include <QPointF>
#include <QPrinter>

#include "SpooledJobs.h"

// A row document drawn once in memory, and the page height its rows and margins need.
struct RowRecording
{
    QPicture picture;
    double heightMm = 0;
};

// Prints a row-based document: one page of "width" by the height of its rows per copy.
// Throws the print engine's exceptions.
SpooledJobs printRowDocument(const QJsonObject &job);

// The same on a printer that is already set up: the rows are laid out once, the page
// size set from their height, and the recording replayed once per copy. Returns the copies'
// job ids.
QList<int> printRowDocumentOn(QPrinter &printer, const QJsonObject &job);

// Lays the rows out once, shifted by "offsetx" and "offsety", and gives the device a page of
// "width" by their height. Throws EInvalidPaperSize for a page the device refuses or that
// has no area, and EPrinterFailed when the rows cannot be recorded.
RowRecording setupRowPage(QPagedPaintDevice &device, const QJsonObject &job);

// Lays the rows out onto a picture of the toolkit's resolution, shifted by the offsets.
// Throws EPrinterFailed when the picture cannot be painted.
RowRecording recordRowDocument(const QJsonObject &job, QPointF offsetMm);

// Lays the rows out with a painter active on any device, in that device's resolution,
// and returns the total height in millimetres. Leaves the painter's state as it found it.
double drawRowDocument(const QJsonObject &job, QPainter &painter, QPointF offsetMm);
