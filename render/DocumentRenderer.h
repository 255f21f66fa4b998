#pragma once

#include <QJsonObject>
#include <QPagedPaintDevice>

// Draws one copy of a print document, page-based or row-based by its "doctype", onto a
// paged device instead of a printer: the printer's full-page mode, its own page set-up, page
// sizes and drawing, and one device page per page. Throws the print engine's exceptions.
void renderDocument(const QJsonObject &job, QPagedPaintDevice &device);
