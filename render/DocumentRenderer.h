#pragma once

#include <QJsonObject>
#include <QPagedPaintDevice>

// Draws one copy of a print document, page-based or row-based by its "doctype", onto a
// paged device instead of a printer: the printer's own page set-up, page
// sizes and drawing, and one device page per page. The device must be in full-page mode,
// as printers are. Throws the print engine's exceptions.
void renderDocument(const QJsonObject &job, QPagedPaintDevice &device);
