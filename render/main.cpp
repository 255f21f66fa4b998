#include "DocumentInput.h"
#include "HeadlessPlatform.h"
#include "PrintExceptions.h"
#include "RenderError.h"
#include "RenderOutput.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QTextStream>

#include <exception>

namespace {

constexpr int kDefaultPngDotsPerInch = 200;

struct Arguments
{
    QString document;
    QString output;
    int dotsPerInch = kDefaultPngDotsPerInch;
};

Arguments parseArguments(const QGuiApplication &application)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Renders the \"data\" object of a \"print.print\" request onto a PDF file or PNG "
        "pictures, through the agent's own drawing, instead of a printer."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("document"),
                                 QStringLiteral("The JSON document, or - for standard input."));
    parser.addPositionalArgument(
        QStringLiteral("output"),
        QStringLiteral("OUT.pdf, or OUT.png for OUT-1.png, OUT-2.png... one per page."));
    const QCommandLineOption dpi(
        QStringLiteral("dpi"), QStringLiteral("Resolution of PNG pictures (default 200)."),
        QStringLiteral("dots per inch"), QString::number(kDefaultPngDotsPerInch));
    parser.addOption(dpi);
    parser.process(application);

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        throw RenderError { QStringLiteral(
            "usage: kiv3-render [--dpi N] DOC.json|- OUT.pdf|OUT.png") };
    bool isNumber = false;
    const int dotsPerInch = parser.value(dpi).toInt(&isNumber);
    if (!isNumber || dotsPerInch < 1 || dotsPerInch > 2400)
        throw RenderError { QStringLiteral("--dpi takes a whole number from 1 to 2400") };
    return { positional.at(0), positional.at(1), dotsPerInch };
}

QStringList render(const Arguments &arguments)
{
    const QString suffix = arguments.output.section(QLatin1Char('.'), -1).toLower();
    if (suffix != QStringLiteral("pdf") && suffix != QStringLiteral("png"))
        throw RenderError {
            QStringLiteral("%1: the output's name must end in .pdf or .png").arg(arguments.output)
        };
    const QJsonObject document = readDocument(arguments.document);
    return suffix == QStringLiteral("pdf")
        ? renderPdf(document, arguments.output)
        : renderPng(document, arguments.output, arguments.dotsPerInch);
}

// The reason a document cannot be rendered, with the agent's log text for the same refusal.
QString refusal(const char *logText, const char *reason)
{
    return QStringLiteral("the agent would refuse this document (%1): %2")
        .arg(QString::fromUtf8(logText), QLatin1String(reason));
}

QString failureMessage()
{
    try {
        throw;
    } catch (const RenderError &error) {
        return error.message;
    } catch (const EInvalidPaperSize &) {
        return refusal("不支援的紙張尺寸", "its page size has no area or is not one Qt knows");
    } catch (const EInvalidOrientation &) {
        return refusal("不支援的列印方向", "\"orientation\" must be 0 or 1");
    } catch (const std::exception &error) {
        return QStringLiteral("the document could not be drawn: %1")
            .arg(QString::fromUtf8(error.what()));
    } catch (...) {
        return QStringLiteral("the document could not be drawn");
    }
}

// Whatever the locale, so that the Chinese of a refusal arrives intact.
void writeUtf8(FILE *stream, const QString &text)
{
    QTextStream writer(stream);
    writer.setCodec("UTF-8");
    writer << text;
}

} // namespace

int main(int argc, char *argv[])
{
    useOffscreenPlatformWithoutDisplay();
    QGuiApplication application(argc, argv);
    try {
        const QStringList written = render(parseArguments(application));
        writeUtf8(stdout, written.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        return 0;
    } catch (...) {
        writeUtf8(stderr, QStringLiteral("kiv3-render: %1\n").arg(failureMessage()));
        return 1;
    }
}
