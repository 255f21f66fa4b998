#include "RenderOutput.h"

#include "DocumentRenderer.h"
#include "JobValues.h"
#include "PageImages.h"
#include "RenderError.h"

#include <QBuffer>
#include <QFileInfo>
#include <QPdfWriter>
#include <QSaveFile>

namespace {

// The resolution of the agent's printers in high-resolution mode.
constexpr int kPdfDotsPerInch = 1200;

void writeFile(const QString &path, const QByteArray &contents)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()
        || !file.commit()) {
        throw RenderError { QStringLiteral("cannot write %1: %2").arg(path, file.errorString()) };
    }
}

QByteArray pngOf(const QImage &page)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    page.save(&buffer, "PNG");
    return png;
}

QString numberedPath(const QString &path, int number)
{
    const QString suffix = QFileInfo(path).suffix();
    return QStringLiteral("%1-%2.%3").arg(path.chopped(suffix.size() + 1)).arg(number).arg(suffix);
}

} // namespace

QStringList renderPdf(const QJsonObject &job, const QString &path)
{
    QByteArray pdf;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setResolution(kPdfDotsPerInch);
        writer.setCreator(QStringLiteral("kiv3-render"));
        writer.setTitle(JobValues::text(job, QStringLiteral("docname")));
        renderDocument(job, writer);
    }
    writeFile(path, pdf);
    return { path };
}

QStringList renderPng(const QJsonObject &job, const QString &path, int dotsPerInch)
{
    QList<QByteArray> pictures;
    PageImages images(dotsPerInch,
                      [&pictures](const QImage &page) { pictures.append(pngOf(page)); });
    renderDocument(job, images);
    images.finishLastPage();
    QStringList written;
    for (int i = 0; i < pictures.size(); ++i) {
        written.append(numberedPath(path, i + 1));
        writeFile(written.last(), pictures.at(i));
    }
    return written;
}
