#pragma once

#include "DotsPerMm.h"
#include "SpooledJobs.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPagedPaintDevice>
#include <QPainter>

// Prints a page-based document: printer and page set-up, then every page of "pages"
// once per copy. Throws the print engine's exceptions.
SpooledJobs printPageDocument(const QJsonObject &job);

// Draws the pages of one copy with a painter that is active on `device`: every item of
// a page in order, a page break between every two pages and none after the last.
void drawPageDocument(QPagedPaintDevice &device, QPainter &painter, const QJsonArray &pages,
                      const DotsPerMm &scale);

// Draws one item by its "method"; items of any other kind are skipped.
void drawPageItem(const QJsonObject &item, QPainter &painter, const DotsPerMm &scale);
