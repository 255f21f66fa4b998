#include "DocumentInput.h"

#include "RenderError.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {

const QString kStandardInput = QStringLiteral("-");

QByteArray readAll(const QString &path)
{
    const bool fromStandardInput = path == kStandardInput;
    QFile file(fromStandardInput ? QString() : path);
    const bool opened = fromStandardInput ? file.open(stdin, QIODevice::ReadOnly)
                                          : file.open(QIODevice::ReadOnly);
    if (!opened)
        throw RenderError { QStringLiteral("cannot read %1: %2").arg(path, file.errorString()) };
    return file.readAll();
}

QString nameOf(const QString &path)
{
    return path == kStandardInput ? QStringLiteral("standard input") : path;
}

bool isPrintRequest(const QJsonObject &object)
{
    return object.value(QStringLiteral("method")).toString() == QStringLiteral("print.print");
}

} // namespace

QJsonObject readDocument(const QString &path)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(readAll(path), &error);
    if (error.error != QJsonParseError::NoError) {
        throw RenderError { QStringLiteral("%1 is not JSON: %2 at character %3")
                                .arg(nameOf(path), error.errorString())
                                .arg(error.offset) };
    }
    if (!document.isObject())
        throw RenderError {
            QStringLiteral("%1 holds no document: a JSON object is expected").arg(nameOf(path))
        };
    const QJsonObject object = document.object();
    // As the agent does, a request's "data" that is not an object counts as an empty one.
    return isPrintRequest(object) ? object.value(QStringLiteral("data")).toObject() : object;
}
