#include "FuzzApplication.h"

#include "RepeatedKeys.h"

#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QPicture>

#include <cstdio>
#include <cstdlib>

namespace {

void dropNonFatalMessages(QtMsgType, const QMessageLogContext &, const QString &) { }

// The font database is read on first use, which takes seconds with the CJK fonts; done here,
// it is not counted against the first input's time limit.
void loadFonts()
{
    QPicture picture;
    QPainter painter(&picture);
    painter.setFont(QFont(QStringLiteral("Microsoft JhengHei"), 10));
    painter.drawText(QRectF(0, 0, 100, 100), Qt::TextWordWrap, QStringLiteral("取貨單 Pick-up"));
}

} // namespace

void startFuzzApplication()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt keeps references to both for the application's life.
    static int argc = 1;
    static char name[] = "kiv3-fuzz";
    static char *argv[] = { name, nullptr };
    // Qt still aborts on a fatal message after the handler returns.
    qInstallMessageHandler(dropNonFatalMessages);
    new QGuiApplication(argc, argv);
    loadFonts();
}

void finishFuzzInput()
{
    QCoreApplication::processEvents();
}

// Text repeating a key, or nested too deep, is dropped as the agent drops it: Qt's parser
// would leak on the one and build per-level state for the other.
QJsonDocument fuzzJson(const uint8_t *data, size_t size)
{
    const QByteArray text
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    // All of it, NULs included, as the parser reads it; the QByteArray overload would stop
    // at the first NUL.
    if (scanBeforeParsing(QString::fromUtf8(text.constData(), text.size())) != JsonScan::Parse)
        return QJsonDocument();
    return QJsonDocument::fromJson(text);
}

void fuzzInvariantBroken(const char *what)
{
    std::fprintf(stderr, "kiv3 fuzz invariant broken: %s\n", what);
    std::abort();
}
