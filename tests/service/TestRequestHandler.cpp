#include "DebugCapture.h"
#include "FakePrintEngine.h"
#include "PrintExceptions.h"
#include "RequestHandler.h"
#include "VersionReply.h"

#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <stdexcept>

namespace {

enum class Failure {
    None,
    PrinterFailed,
    UnknownPrinter,
    NoDefaultPrinter,
    PaperSize,
    Orientation,
    SpoolerFailed,
    StdException,
    NonStdException,
    // Over a print bound, in the order of EOverLimit's kinds.
    CopiesOverLimit,
    PagesOverLimit,
    ItemsOverLimit,
    CharactersOverLimit,
    FontFacesOverLimit,
    FontSizeOverLimit,
};

void fail(Failure failure)
{
    switch (failure) {
    case Failure::None:
        return;
    case Failure::PrinterFailed:
        throw EPrinterFailed();
    case Failure::UnknownPrinter:
        throw EInvalidPrinter { QStringLiteral("Kassa 2") };
    case Failure::NoDefaultPrinter:
        throw EInvalidPrinter { QString() };
    case Failure::PaperSize:
        throw EInvalidPaperSize();
    case Failure::Orientation:
        throw EInvalidOrientation();
    case Failure::SpoolerFailed:
        throw ESpoolerFailed("the spooler refused the copy");
    case Failure::StdException:
        throw std::runtime_error("device went away");
    case Failure::NonStdException:
        throw 42;
    default: {
        const int kind = int(failure) - int(Failure::CopiesOverLimit);
        throw EOverLimit { EOverLimit::What(kind), 1000 + kind, 999 };
    }
    }
}

QString nested(int depth, const QString &inner)
{
    return QString(depth, QLatin1Char('[')) + inner + QString(depth, QLatin1Char(']'));
}

} // namespace

Q_DECLARE_METATYPE(Failure)

class TestRequestHandler : public QObject
{
    Q_OBJECT

private slots:
    void emptyTextIsTheVersionQuery();
    void messagesGetTheirReplyAndActionText_data();
    void messagesGetTheirReplyAndActionText();
    void printFailuresBecomeActionTextsAndCodesWhenAsked_data();
    void printFailuresBecomeActionTextsAndCodesWhenAsked();
    void requestsThatAskGetTheirOutcome_data();
    void requestsThatAskGetTheirOutcome();
    void clientTextInLogLinesIsCutAndEscaped_data();
    void clientTextInLogLinesIsCutAndEscaped();
    void printerFailureIsCaughtWithoutACopy();
    void printJobGetsTheDataObjectOrAnEmptyOne_data();
    void printJobGetsTheDataObjectOrAnEmptyOne();
    void hugeAndDeepDocumentsAreHandled();
};

void TestRequestHandler::emptyTextIsTheVersionQuery()
{
    FakePrintEngine engine;
    RequestHandler handler(engine);

    const HandledMessage handled = handler.handleMessage(QString());

    QVERIFY(handled.reply.has_value());
    QCOMPARE(*handled.reply, versionReply().toUtf8());
    QCOMPARE(handled.actionText, QStringLiteral("取回Kiv3 Device Proxy版本資訊"));
    QVERIFY(engine.printedJobs.isEmpty());
}

void TestRequestHandler::messagesGetTheirReplyAndActionText_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("printers");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("actionText");

    const QString invalidJson = QStringLiteral("送來無效的json字串");
    const QString missingMethod = QStringLiteral("送來的資料缺少method");
    const QString invalidMethod = QStringLiteral("無效的method屬性");
    const QString listed = QStringLiteral("查詢本電腦登錄的印表機");
    const QStringList two { QStringLiteral("Kassa"), QStringLiteral("標籤機") };

    QTest::newRow("single space is not JSON") << " " << two << QByteArray() << invalidJson;
    QTest::newRow("lone brace") << "{" << two << QByteArray() << invalidJson;
    QTest::newRow("trailing garbage") << R"({"id":"a"} x)" << two << QByteArray() << invalidJson;
    QTest::newRow("top-level array") << R"([{"id":"a","method":"print.getprinters"}])" << two
                                     << QByteArray(R"({"":null})") << missingMethod;
    // Qt's parser would leak the earlier value of a repeated key, so such text is refused.
    QTest::newRow("repeated key holding arrays")
        << R"({"id":"a","method":"print.print","data":{"pages":[[1]],"pages":[[2]]}})" << two
        << QByteArray() << invalidJson;
    QTest::newRow("repeated id") << R"({"id":"a","id":"b","method":"print.getprinters"})" << two
                                 << QByteArray() << invalidJson;
    QTest::newRow("repeated key written with an escape")
        << R"({"id":"a","method":"print.getprinters","\u006dethod":{}})" << two << QByteArray()
        << invalidJson;
    QTest::newRow("same keys in sibling objects")
        << R"({"id":"a","method":"print.print","data":{"pages":[[{"x":1},{"x":2}]]}})" << two
        << QByteArray(R"({"a":null})") << QStringLiteral("執行列印作業");
    QTest::newRow("key names as values, escaped quotes in keys")
        << R"({"id":"method","method":"print.getprinters","m\"id":"id","m\\\"id":[]})" << two
        << QByteArray(R"({"method":["Kassa","標籤機"]})") << listed;
    QTest::newRow("repeated key after a nested object")
        << R"({"id":"a","a":{"b":1,"c":[{"b":2}]},"a":2})" << two << QByteArray() << invalidJson;
    QTest::newRow("outer key again in a nested object")
        << R"({"id":"a","method":"print.getprinters","x":{"method":{"id":1}}})" << two
        << QByteArray(R"({"a":["Kassa","標籤機"]})") << listed;
    // The parser's own limit, refused before any state is built for deeper levels.
    QTest::newRow("nested as deep as the parser takes")
        << nested(1024, QString()) << two << QByteArray(R"({"":null})") << missingMethod;
    QTest::newRow("nested one level deeper")
        << nested(1025, QString()) << two << QByteArray() << invalidJson;
    QTest::newRow("objects nested four million deep")
        << QString(QStringLiteral(R"({"":)")).repeated(4194000) << two << QByteArray()
        << invalidJson;
    QTest::newRow("no method") << R"({"id":"x"})" << two << QByteArray(R"({"x":null})")
                               << missingMethod;
    QTest::newRow("no id") << R"({"method":"print.getprinters"})" << two
                           << QByteArray(R"({"":["Kassa","標籤機"]})") << listed;
    QTest::newRow("numeric id") << R"({"id":7,"method":"print.getprinters"})" << two
                                << QByteArray(R"({"":["Kassa","標籤機"]})") << listed;
    QTest::newRow("two printers") << R"({"id":"a1","method":"print.getprinters"})" << two
                                  << QByteArray(R"({"a1":["Kassa","標籤機"]})") << listed;
    QTest::newRow("no printers") << R"({"id":"a1","method":"print.getprinters"})" << QStringList()
                                 << QByteArray(R"({"a1":[]})") << listed;
    QTest::newRow("method in other case") << R"({"id":"a","method":"print.GetPrinters"})" << two
                                          << QByteArray(R"({"a":null})") << invalidMethod;
    QTest::newRow("method version")
        << R"({"method":"version"})" << two << QByteArray(R"({"":null})") << invalidMethod;
    QTest::newRow("method not a string")
        << R"({"id":"a","method":1})" << two << QByteArray(R"({"a":null})") << invalidMethod;
    QTest::newRow("method null") << R"({"id":"a","method":null})" << two
                                 << QByteArray(R"({"a":null})") << invalidMethod;
    QTest::newRow("id with quotes and Chinese")
        << R"({"id":"單\"號","method":"print.print"})" << two << QByteArray(R"({"單\"號":null})")
        << QStringLiteral("執行列印作業");
}

void TestRequestHandler::messagesGetTheirReplyAndActionText()
{
    QFETCH(QString, message);
    QFETCH(QStringList, printers);
    QFETCH(QByteArray, reply);
    QFETCH(QString, actionText);
    FakePrintEngine engine;
    engine.printers = printers;
    RequestHandler handler(engine);

    const HandledMessage handled = handler.handleMessage(message);

    QCOMPARE(handled.reply.has_value(), !reply.isEmpty());
    if (handled.reply)
        QCOMPARE(*handled.reply, reply);
    QCOMPARE(handled.actionText, actionText);
}

void TestRequestHandler::printFailuresBecomeActionTextsAndCodesWhenAsked_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<QString>("actionText");
    QTest::addColumn<QString>("code");

    const QString print = QStringLiteral("print.print");
    QTest::newRow("printed") << print << Failure::None << QStringLiteral("執行列印作業")
                             << QString();
    QTest::newRow("printer failed")
        << print << Failure::PrinterFailed << QStringLiteral("印表機系統初始化失敗")
        << QStringLiteral("printer-failed");
    QTest::newRow("unknown printer")
        << print << Failure::UnknownPrinter << QStringLiteral("無效的印表機: Kassa 2")
        << QStringLiteral("invalid-printer");
    QTest::newRow("no default printer")
        << print << Failure::NoDefaultPrinter << QStringLiteral("系統未設定預設印表機")
        << QStringLiteral("no-default-printer");
    QTest::newRow("paper size") << print << Failure::PaperSize << QStringLiteral("不支援的紙張尺寸")
                                << QStringLiteral("paper-size");
    QTest::newRow("orientation") << print << Failure::Orientation
                                 << QStringLiteral("不支援的列印方向")
                                 << QStringLiteral("orientation");
    QTest::newRow("std exception") << print << Failure::StdException
                                   << QStringLiteral("發生內部錯誤") << QStringLiteral("internal");
    QTest::newRow("anything thrown")
        << print << Failure::NonStdException << QStringLiteral("發生內部錯誤")
        << QStringLiteral("internal");
    QTest::newRow("copies over their bound")
        << print << Failure::CopiesOverLimit << QStringLiteral("列印份數1000超過上限999")
        << QStringLiteral("over-limit");
    QTest::newRow("pages over their bound")
        << print << Failure::PagesOverLimit << QStringLiteral("列印頁數1001超過上限999")
        << QStringLiteral("over-limit");
    QTest::newRow("items over their bound")
        << print << Failure::ItemsOverLimit << QStringLiteral("列印項目數1002超過上限999")
        << QStringLiteral("over-limit");
    QTest::newRow("characters over their bound")
        << print << Failure::CharactersOverLimit << QStringLiteral("列印文字1003字超過上限999字")
        << QStringLiteral("over-limit");
    QTest::newRow("font faces over their bound")
        << print << Failure::FontFacesOverLimit << QStringLiteral("列印字型1004種超過上限999種")
        << QStringLiteral("over-limit");
    QTest::newRow("font size over its bound")
        << print << Failure::FontSizeOverLimit << QStringLiteral("列印字型大小1005超過上限999")
        << QStringLiteral("over-limit");
    QTest::newRow("spooler refusing a copy")
        << print << Failure::SpoolerFailed << QStringLiteral("發生內部錯誤")
        << QStringLiteral("printer-failed");
    QTest::newRow("printer list failing")
        << QStringLiteral("print.getprinters") << Failure::StdException
        << QStringLiteral("發生內部錯誤") << QStringLiteral("internal");
}

void TestRequestHandler::printFailuresBecomeActionTextsAndCodesWhenAsked()
{
    QFETCH(QString, method);
    QFETCH(Failure, failure);
    QFETCH(QString, actionText);
    QFETCH(QString, code);

    class FailingEngine : public FakePrintEngine
    {
    public:
        Failure failure = Failure::None;
        QStringList getPrinters() override
        {
            fail(failure);
            return { QStringLiteral("Kassa") };
        }
    } engine;
    engine.failure = failure;
    engine.duringPrint = [failure] { fail(failure); };
    RequestHandler handler(engine);

    // Without "outcome": true, the reply is null whatever happened, as it always was.
    const QString request = QStringLiteral(R"({"id":"j9","method":"%1","data":{}})").arg(method);
    const HandledMessage handled = handler.handleMessage(request);
    QVERIFY(handled.reply.has_value());
    QCOMPARE(*handled.reply, QByteArray(R"({"j9":null})"));
    QCOMPARE(handled.actionText, actionText);

    const HandledMessage asked = handler.handleMessage(
        QStringLiteral(R"({"id":"j9","method":"%1","data":{},"outcome":true})").arg(method));
    QVERIFY(asked.reply.has_value());
    const QJsonObject outcome
        = QJsonDocument::fromJson(*asked.reply).object().value(QStringLiteral("j9")).toObject();
    QCOMPARE(outcome.value(QStringLiteral("ok")).toBool(), code.isEmpty());
    if (!code.isEmpty()) {
        QCOMPARE(outcome.value(QStringLiteral("code")).toString(), code);
        QCOMPARE(outcome.value(QStringLiteral("message")).toString(), actionText);
        QCOMPARE(outcome.size(), 3);
    }
    QCOMPARE(asked.actionText, actionText);
}

void TestRequestHandler::requestsThatAskGetTheirOutcome_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QList<int>>("followed");

    const QList<int> none;
    QTest::newRow("printed: one job per copy")
        << R"({"id":"p","method":"print.print","outcome":true})"
        << QByteArray(R"({"p":{"jobs":[7,8],"ok":true}})") << QList<int> { 7, 8 };
    QTest::newRow("printer list") << R"({"id":"l","method":"print.getprinters","outcome":true})"
                                  << QByteArray(R"({"l":{"ok":true,"printers":["Kassa"]}})")
                                  << none;
    QTest::newRow("invalid method")
        << R"({"id":"m","method":"print.status","outcome":true})"
        << QByteArray(R"({"m":{"code":"invalid-method","message":"無效的method屬性","ok":false}})")
        << none;
    QTest::newRow("missing method")
        << R"({"id":"m","outcome":true})"
        << QByteArray(
               R"({"m":{"code":"missing-method","message":"送來的資料缺少method","ok":false}})")
        << none;
    QTest::newRow("printer states, asked or not")
        << R"({"id":"s","method":"print.getprinterstatus","outcome":true})"
        << QByteArray(R"({"s":[{"accepting":false,"custompaper":true,"default":true,)"
                      R"("name":"Kassa","reasons":["media-empty","offline"],"state":"offline"}]})")
        << none;
    QTest::newRow("printer states without outcome")
        << R"({"id":"s","method":"print.getprinterstatus"})"
        << QByteArray(R"({"s":[{"accepting":false,"custompaper":true,"default":true,)"
                      R"("name":"Kassa","reasons":["media-empty","offline"],"state":"offline"}]})")
        << none;
    // Only the JSON literal true asks.
    QTest::newRow("outcome as text") << R"({"id":"p","method":"print.print","outcome":"true"})"
                                     << QByteArray(R"({"p":null})") << none;
    QTest::newRow("outcome 1") << R"({"id":"p","method":"print.print","outcome":1})"
                               << QByteArray(R"({"p":null})") << none;
    QTest::newRow("outcome false") << R"({"id":"p","method":"print.print","outcome":false})"
                                   << QByteArray(R"({"p":null})") << none;
    QTest::newRow("not JSON still gets nothing")
        << R"({"id":"p","method":"print.print","outcome":true)" << QByteArray() << none;
}

void TestRequestHandler::requestsThatAskGetTheirOutcome()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, reply);
    QFETCH(QList<int>, followed);
    FakePrintEngine engine;
    engine.printers = QStringList { QStringLiteral("Kassa") };
    engine.spooled = { QStringLiteral("Kassa"), { 7, 8 } };
    engine.printerStates = { { QStringLiteral("Kassa"),
                               true,
                               QStringLiteral("offline"),
                               { QStringLiteral("media-empty"), QStringLiteral("offline") },
                               false,
                               true } };
    RequestHandler handler(engine);

    const HandledMessage handled = handler.handleMessage(message);

    QCOMPARE(handled.reply.value_or(QByteArray()), reply);
    // Only a print that asks pays for learning its job ids.
    QCOMPARE(engine.jobIds, followed.isEmpty() ? JobIds::Skipped : JobIds::Learned);
    QCOMPARE(handled.follow.has_value(), !followed.isEmpty());
    if (handled.follow) {
        QCOMPARE(handled.follow->requestId, QStringLiteral("p"));
        QCOMPARE(handled.follow->jobs.printer, QStringLiteral("Kassa"));
        QCOMPARE(handled.follow->jobs.ids, followed);
    }
}

void TestRequestHandler::clientTextInLogLinesIsCutAndEscaped_data()
{
    QTest::addColumn<QString>("printer");
    QTest::addColumn<QString>("shown");

    QTest::newRow("a real name stays as it is")
        << QStringLiteral("\\\\櫃台\\Kassa 2 (副本)") << QStringLiteral("\\\\櫃台\\Kassa 2 (副本)");
    QTest::newRow("line breaks cannot forge a line")
        << QStringLiteral("x\r\n07:00 am > 用戶'(10.0.0.66)' 執行列印作業")
        << QStringLiteral("x\\u000d\\u000a07:00 am > 用戶'(10.0.0.66)' 執行列印作業");
    QTest::newRow("terminal controls") << QString::fromUtf16(u"\x1b]0;x\x07\x1b[2J\b\x7f")
            + QChar(0) << QStringLiteral("\\u001b]0;x\\u0007\\u001b[2J\\u0008\\u007f\\u0000");
    QTest::newRow("C1 controls and separators") << QString::fromUtf16(u"a\x85\x9b\x2028\x2029")
                                                << QStringLiteral("a\\u0085\\u009b\\u2028\\u2029");
    QTest::newRow("bidirectional overrides and isolates")
        << QString::fromUtf16(u"\x202etxt.exe\x2066\x2069\x200f")
        << QStringLiteral("\\u202etxt.exe\\u2066\\u2069\\u200f");
    QTest::newRow("a long name is cut and marked")
        << QString(16 * 1024 * 1024, QLatin1Char('n'))
        << QString(200, QLatin1Char('n')) + QStringLiteral("…(共16777216字)");
    QTest::newRow("a cut never splits a character") << QString(199, QLatin1Char('n'))
            + QStringLiteral("😀😀") << QString(199, QLatin1Char('n')) + QStringLiteral("…(共203字)");
}

// The log view and standard error show the action text as it is: whatever a page names
// must reach both as one line of bounded length, without any control character.
void TestRequestHandler::clientTextInLogLinesIsCutAndEscaped()
{
    QFETCH(QString, printer);
    QFETCH(QString, shown);
    FakePrintEngine engine;
    RequestHandler handler(engine);
    QString name;
    engine.duringPrint = [&] {
        name = engine.printedJobs.last().value(QStringLiteral("printer")).toString();
        throw EInvalidPrinter { name };
    };

    const QJsonObject request { { QStringLiteral("method"), QStringLiteral("print.print") },
                                { QStringLiteral("data"),
                                  QJsonObject { { QStringLiteral("printer"), printer } } } };
    const HandledMessage handled = handler.handleMessage(
        QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));

    QVERIFY(!name.isEmpty());
    QCOMPARE(handled.actionText, QStringLiteral("無效的印表機: ") + shown);
}

void TestRequestHandler::printerFailureIsCaughtWithoutACopy()
{
    FakePrintEngine engine;
    engine.duringPrint = [] { throw EPrinterFailed(); };
    RequestHandler handler(engine);
    DebugCapture debug;

    handler.handleMessage(QStringLiteral(R"({"method":"print.print"})"));

    QCOMPARE(debug.lines(),
             QStringList({ QStringLiteral("00000000000000000000000000000000 Default constructor"),
                           QStringLiteral("~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~ Destructor") }));
}

void TestRequestHandler::printJobGetsTheDataObjectOrAnEmptyOne_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QJsonObject>("job");

    const QJsonObject document { { QStringLiteral("printer"), QStringLiteral("Kassa") },
                                 { QStringLiteral("copycount"), 2 } };
    QTest::newRow("data object")
        << R"({"method":"print.print","data":{"printer":"Kassa","copycount":2}})" << document;
    QTest::newRow("no data") << R"({"method":"print.print"})" << QJsonObject();
    QTest::newRow("data array") << R"({"method":"print.print","data":[1]})" << QJsonObject();
    QTest::newRow("data text") << R"({"method":"print.print","data":"{}"})" << QJsonObject();
}

void TestRequestHandler::printJobGetsTheDataObjectOrAnEmptyOne()
{
    QFETCH(QString, message);
    QFETCH(QJsonObject, job);
    FakePrintEngine engine;
    RequestHandler handler(engine);

    handler.handleMessage(message);

    QCOMPARE(engine.printedJobs, QList<QJsonObject> { job });
}

void TestRequestHandler::hugeAndDeepDocumentsAreHandled()
{
    FakePrintEngine engine;
    RequestHandler handler(engine);

    const HandledMessage tooDeep = handler.handleMessage(nested(100000, QString()));
    QVERIFY(!tooDeep.reply);
    QCOMPARE(tooDeep.actionText, QStringLiteral("送來無效的json字串"));

    const QString deepData
        = QStringLiteral(R"({"id":"d","method":"print.print","data":{"pages":%1}})")
              .arg(nested(500, QStringLiteral("1")));
    QCOMPARE(handler.handleMessage(deepData).actionText, QStringLiteral("執行列印作業"));

    QJsonArray items;
    for (int i = 0; i < 200000; ++i)
        items.append(QJsonObject { { QStringLiteral("method"), QStringLiteral("line") },
                                   { QStringLiteral("x1"), i } });
    const QJsonObject request { { QStringLiteral("id"), QStringLiteral("big") },
                                { QStringLiteral("method"), QStringLiteral("print.print") },
                                { QStringLiteral("data"),
                                  QJsonObject {
                                      { QStringLiteral("pages"), QJsonArray { QJsonValue(items) } } } } };
    const HandledMessage big = handler.handleMessage(
        QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    QCOMPARE(*big.reply, QByteArray(R"({"big":null})"));
    QCOMPARE(engine.printedJobs.size(), 2);
    QCOMPARE(
        engine.printedJobs.last().value(QStringLiteral("pages")).toArray().first().toArray().size(),
        items.size());
}

QTEST_GUILESS_MAIN(TestRequestHandler)
#include "TestRequestHandler.moc"
