#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QPagedPaintDevice>

// Prints a page-based document: printer and page set-up, then every page of "pages"
// once per copy. Throws the print engine's exceptions.
void printPageDocument(const QJsonObject &job);

// Draws the pages of one copy on a device that is being painted, with a page break
// between every two pages and none after the last.
void drawPageDocument(QPagedPaintDevice &device, const QJsonArray &pages);
