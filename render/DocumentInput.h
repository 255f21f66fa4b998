#pragma once

#include <QJsonObject>
#include <QString>

// The print document in the file at `path`, or in standard input when `path` is "-": the
// "data" object of a "print.print" request, given alone or inside its whole request.
// Throws RenderError when the text cannot be read, is not JSON, or holds no object.
QJsonObject readDocument(const QString &path);
