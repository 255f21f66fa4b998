#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// Where a rendering goes, told by the output's name: a PDF file, or PNG pictures.
// Nothing is written unless the whole document renders. Both throw the print engine's
// exceptions for a document the printer would refuse, and RenderError when the output
// cannot be written. Each returns the files written.

// One PDF page per page, at the resolution the agent prints with.
QStringList renderPdf(const QJsonObject &job, const QString &path);

// One picture of `dotsPerInch` per page, numbered from 1: OUT.png gives OUT-1.png, OUT-2.png...
QStringList renderPng(const QJsonObject &job, const QString &path, int dotsPerInch);
