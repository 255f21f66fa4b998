#pragma once

#include <QJsonObject>
#include <QPageSize>
#include <QPagedPaintDevice>

// Page set-up of a page-based document, in this order: orientation, paper size (custom
// from "width" and "height" when "papersize" is 30), margins from the offsets.
// Throws EInvalidOrientation or EInvalidPaperSize.
void setupPageLayout(QPagedPaintDevice &device, const QJsonObject &job);

// Hands the device a page size; a size the device refuses, or one without area, throws
// EInvalidPaperSize.
void applyPageSize(QPagedPaintDevice &device, const QPageSize &size);

// How many times the whole document is printed; below 1 means not at all.
int readCopyCount(const QJsonObject &job);
