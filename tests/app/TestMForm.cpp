#include "Agent.h"
#include "AppTexts.h"
#include "Banner.h"
#include "MForm.h"
#include "MFormProbe.h"
#include "ServiceTexts.h"
#include "VersionReply.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTest>
#include <QTextBlock>
#include <QTime>
#include <QTimer>
#include <QWebSocketServer>

#include <functional>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr int kWaitMs = 10000;
const QString kShowEntry = QString::fromUtf8(AppTexts::kShowEntry);
const QString kHideEntry = QString::fromUtf8(AppTexts::kHideEntry);
const QString kCleanEntry = QString::fromUtf8(AppTexts::kCleanEntry);
const QString kDetachEntry = QString::fromUtf8(AppTexts::kDetachEntry);
const QString kQuitEntry = QString::fromUtf8(AppTexts::kQuitEntry);
const QString kBannerStart = QStringLiteral("Kiv3 Device Proxy(%1)成功啟動, ").arg(agentVersion());

QString timePrefix()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm a > "));
}

bool log(MForm &window, const QString &text)
{
    return QMetaObject::invokeMethod(&window, "log", Q_ARG(QString, text));
}

// The minute may turn while a line is written: either moment's prefix is right.
bool isLogLine(const QString &line, const QString &text, const QString &before,
               const QString &after)
{
    return line == before + text || line == after + text;
}

// Every log line is copied to standard error; ten thousand of them would bury a failure.
struct QuietStandardError
{
#ifdef Q_OS_UNIX
    const int saved = ::dup(2);
    QuietStandardError()
    {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::close(null);
    }
    ~QuietStandardError()
    {
        ::dup2(saved, 2);
        ::close(saved);
    }
#else
    QuietStandardError() { }
#endif
};

} // namespace

class TestMForm : public QObject
{
    Q_OBJECT

private slots:
    void windowMatchesItsDesign();
    void contextMenuListsEntriesAndKeepsDetachDisabledWithoutReader_data();
    void contextMenuListsEntriesAndKeepsDetachDisabledWithoutReader();
    void closeHidesWindowWhenTrayExists();
    void closeMinimisesWindowWithoutTray();
    void logAppendsTimeStampedLineAsPlainText_data();
    void logAppendsTimeStampedLineAsPlainText();
    void cleanEntryEmptiesViewAndNextLineStartsAtTop();
    void viewKeepsOnlyNewestLinesAndNoHistory_data();
    void viewKeepsOnlyNewestLinesAndNoHistory();
    void bannerNamesReachableIPv4Addresses_data();
    void bannerNamesReachableIPv4Addresses();
    void serviceStartWritesBannerThenServingLine();
    void runAgentReportsTakenPortAndReturnsOne_data();
    void runAgentReportsTakenPortAndReturnsOne();
    void quitEntryEndsEventLoopWithCodeZero();
};

void TestMForm::windowMatchesItsDesign()
{
    MForm window(nullptr, true);
    QCOMPARE(window.objectName(), QStringLiteral("MForm"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Quor Kiv3 Device Proxy"));
    QCOMPARE(window.size(), QSize(419, 302));

    QVERIFY(window.findChild<QWidget *>(QStringLiteral("centralWidget")) == window.centralWidget());
    auto *grid = window.findChild<QGridLayout *>(QStringLiteral("gridLayout"));
    QVERIFY(grid);
    QCOMPARE(grid->spacing(), 6);
    QCOMPARE(grid->contentsMargins(), QMargins(0, 0, 0, 0));

    QPlainTextEdit *view = logView(window);
    QVERIFY(view);
    QVERIFY(view->isReadOnly());
    QCOMPARE(view->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(view->contextMenuPolicy(), Qt::CustomContextMenu);
}

void TestMForm::contextMenuListsEntriesAndKeepsDetachDisabledWithoutReader_data()
{
    QTest::addColumn<bool>("startService");
    QTest::newRow("before the service exists") << false;
    QTest::newRow("service without a reader") << true;
}

void TestMForm::contextMenuListsEntriesAndKeepsDetachDisabledWithoutReader()
{
    QFETCH(bool, startService);
    MForm window(nullptr, true);
    const std::unique_ptr<DevProxy> service = startService ? showServiceIn(window) : nullptr;

    QMenu *shown = nullptr;
    QStringList entries;
    bool detachEnabled = true;
    {
        ModalResponder<QMenu> responder([&](QMenu *menu) {
            shown = menu;
            entries.clear();
            for (const QAction *action : menu->actions()) {
                entries << (action->isSeparator() ? QStringLiteral("-") : action->text());
                if (action->text() == kDetachEntry)
                    detachEnabled = action->isEnabled();
            }
            menu->close();
        });
        // What the view emits on a right click under its custom-menu policy.
        emit logView(window)->customContextMenuRequested(QPoint(5, 5));
        QCOMPARE(responder.seen(), 1);
    }
    const QStringList expected {
        QStringLiteral("顯示視窗"), QStringLiteral("清除視窗"),
        QStringLiteral("-"),        QStringLiteral("中斷並嘗試連接下一台讀卡機"),
        QStringLiteral("-"),        QStringLiteral("結束Kiv3 Device Proxy")
    };
    QCOMPARE(entries, expected);
    QVERIFY(!detachEnabled);
    auto *tray = window.findChild<QSystemTrayIcon *>();
    QVERIFY(tray);
    QCOMPARE(tray->contextMenu(), shown);

    // The tray menu stays live while the start-failure box is open, with no service yet:
    // the entry must then be harmless.
    QAction *detach = entry(window, kDetachEntry);
    QVERIFY(detach);
    detach->setEnabled(true);
    detach->trigger();
}

void TestMForm::closeHidesWindowWhenTrayExists()
{
    MForm window(nullptr, true);
    QAction *toggle = entry(window, kShowEntry);
    QVERIFY(toggle);
    QVERIFY(!window.isVisible());
    QSignalSpy lastWindowClosed(qApp, &QApplication::lastWindowClosed);

    toggle->trigger();
    QVERIFY(window.isVisible());
    QCOMPARE(toggle->text(), kHideEntry);

    QVERIFY(!window.close());
    QVERIFY(!window.isVisible());
    QCOMPARE(toggle->text(), kShowEntry);
    QCOMPARE(lastWindowClosed.size(), 0);

    toggle->trigger();
    QVERIFY(window.isVisible());
    toggle->trigger();
    QVERIFY(!window.isVisible());
    QCOMPARE(toggle->text(), kShowEntry);
}

void TestMForm::closeMinimisesWindowWithoutTray()
{
    MForm window(nullptr, false);
    QAction *toggle = entry(window, kShowEntry);
    QVERIFY(toggle);
    const std::unique_ptr<DevProxy> service = showServiceIn(window);
    QVERIFY(window.isVisible());
    QVERIFY(!window.isMinimized());
    QCOMPARE(toggle->text(), kHideEntry);

    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
    QVERIFY(window.isMinimized());
    QCOMPARE(toggle->text(), kShowEntry);

    toggle->trigger();
    QVERIFY(window.isVisible());
    QVERIFY(!window.isMinimized());
    QCOMPARE(toggle->text(), kHideEntry);
}

void TestMForm::logAppendsTimeStampedLineAsPlainText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("plain")
        << QString::fromUtf8(ServiceTexts::kConnected).arg(QStringLiteral("(127.0.0.1)"));
    QTest::newRow("image tag") << QStringLiteral("<img src=x>");
    QTest::newRow("bold tag") << QStringLiteral("<b>x</b>");
    QTest::newRow("entity") << QStringLiteral("a &amp; b &lt;");
}

// Lines carry names that pages choose; markup in them must stay text.
void TestMForm::logAppendsTimeStampedLineAsPlainText()
{
    QFETCH(QString, text);
    MForm window(nullptr, true);
    QPlainTextEdit *view = logView(window);
    QVERIFY(log(window, QStringLiteral("first")));

    const QString before = timePrefix();
    QVERIFY(log(window, text));
    const QString after = timePrefix();

    QTextDocument *document = view->document();
    QCOMPARE(document->blockCount(), 2);
    const QTextBlock line = document->lastBlock();
    QVERIFY2(isLogLine(line.text(), text, before, after), qPrintable(line.text()));

    // A single fragment: nothing in the line took on a format of its own.
    int fragments = 0;
    for (auto it = line.begin(); !it.atEnd(); ++it) {
        ++fragments;
        QVERIFY(!it.fragment().charFormat().isImageFormat());
    }
    QCOMPARE(fragments, 1);
}

void TestMForm::cleanEntryEmptiesViewAndNextLineStartsAtTop()
{
    MForm window(nullptr, true);
    QPlainTextEdit *view = logView(window);
    QVERIFY(log(window, QStringLiteral("one")));
    QVERIFY(log(window, QStringLiteral("two")));

    QAction *clean = entry(window, kCleanEntry);
    QVERIFY(clean);
    clean->trigger();
    QVERIFY(view->toPlainText().isEmpty());

    const QString before = timePrefix();
    QVERIFY(log(window, QStringLiteral("three")));
    const QString after = timePrefix();
    QCOMPARE(view->document()->blockCount(), 1);
    QVERIFY(isLogLine(view->toPlainText(), QStringLiteral("three"), before, after));
}

void TestMForm::viewKeepsOnlyNewestLinesAndNoHistory_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("fewestKept");
    QTest::addColumn<int>("mostKept");

    QTest::newRow("short lines, by count") << 10001 << 10 << 10000 << 10000;
    QTest::newRow("long lines, by characters") << 300 << 10000 << 195 << 199;
    QTest::newRow("one line beyond the whole cap") << 3 << 2100000 << 1 << 1;
}

// Pages can add lines in a loop and make them long; the view stays bounded either way.
void TestMForm::viewKeepsOnlyNewestLinesAndNoHistory()
{
    QFETCH(int, lines);
    QFETCH(int, length);
    QFETCH(int, fewestKept);
    QFETCH(int, mostKept);
    MForm window(nullptr, true);
    QTextDocument *document = logView(window)->document();
    QuietStandardError quiet;
    for (int i = 0; i < lines; ++i)
        QVERIFY(log(window, QStringLiteral("%1 ").arg(i).leftJustified(length, QLatin1Char('x'))));

    QVERIFY2(document->blockCount() >= fewestKept && document->blockCount() <= mostKept,
             qPrintable(QString::number(document->blockCount())));
    QVERIFY(document->characterCount() <= 2000000 || document->blockCount() == 1);
    const int first = lines - document->blockCount();
    QVERIFY(document->firstBlock().text().contains(QStringLiteral("> %1 ").arg(first)));
    QVERIFY(document->lastBlock().text().contains(QStringLiteral("> %1 ").arg(lines - 1)));

    // Nothing dropped or cleared may live on in an undo history.
    QCOMPARE(document->availableUndoSteps(), 0);
    entry(window, kCleanEntry)->trigger();
    QVERIFY(log(window, QStringLiteral("after clearing")));
    QCOMPARE(logView(window)->document()->availableUndoSteps(), 0);
}

void TestMForm::bannerNamesReachableIPv4Addresses_data()
{
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QStringList>("allowedOrigins");
    QTest::addColumn<bool>("allowNoOrigin");
    QTest::addColumn<QString>("banner");

    const QString none = kBannerStart + QStringLiteral("但此電腦沒有可連接的IP位址.\n");
    const QString listed = kBannerStart + QStringLiteral("可從下列IP位址取得服務:\r\n\n%1\n");
    const QStringList open;

    QTest::newRow("none") << QStringList {} << open << false << none;
    QTest::newRow("one IPv4") << QStringList { "192.168.1.20" } << open << false
                              << listed.arg("192.168.1.20");
    QTest::newRow("two IPv4") << QStringList { "10.0.0.5", "192.168.1.20" } << open << false
                              << listed.arg("10.0.0.5\r\n192.168.1.20");
    QTest::newRow("loopback only")
        << QStringList { "127.0.0.1", "127.0.1.1" } << open << false << none;
    QTest::newRow("IPv6 only") << QStringList { "::1", "fe80::1", "2001:db8::7" } << open << false
                               << none;
    QTest::newRow("mixed") << QStringList { "2001:db8::7", "172.16.3.4", "127.0.0.1",
                                            "0.0.0.0",     "::1",        "10.0.0.5" }
                           << open << false << listed.arg("172.16.3.4\r\n10.0.0.5");
    const QString origins = QStringLiteral("只接受來自下列來源的網頁連線:\r\n\n"
                                           "https://shop.example\r\nhttp://desk.example:8080\n");
    const QStringList shopAndDesk = { "https://shop.example", "http://desk.example:8080" };
    QTest::newRow("origins, programs refused")
        << QStringList {} << shopAndDesk << false
        << none + origins + QStringLiteral("拒絕沒有來源(非瀏覽器)的用戶端連線.\n");
    QTest::newRow("origins and programs")
        << QStringList {} << shopAndDesk << true
        << none + origins + QStringLiteral("也接受沒有來源(非瀏覽器)的用戶端連線.\n");
}

void TestMForm::bannerNamesReachableIPv4Addresses()
{
    QFETCH(QStringList, addresses);
    QFETCH(QStringList, allowedOrigins);
    QFETCH(bool, allowNoOrigin);
    QFETCH(QString, banner);
    QList<QHostAddress> hostAddresses;
    for (const QString &address : addresses)
        hostAddresses.append(QHostAddress(address));
    ClientPolicy policy;
    policy.allowedOrigins = allowedOrigins;
    policy.allowNoOrigin = allowNoOrigin;
    QCOMPARE(startBanner(reachableIPv4Addresses(hostAddresses), policy), banner);
}

void TestMForm::serviceStartWritesBannerThenServingLine()
{
    MForm window(nullptr, true);
    const QString before = timePrefix();
    const std::unique_ptr<DevProxy> service = showServiceIn(window);
    const QString after = timePrefix();
    QVERIFY(!window.isVisible());

    const QString text = logView(window)->toPlainText();
    QVERIFY2(text.startsWith(kBannerStart), qPrintable(text));
    const QStringList lines = text.split(QLatin1Char('\n'));
    QVERIFY2(isLogLine(lines.last(), QStringLiteral("開始提供服務"), before, after),
             qPrintable(lines.last()));
    // Everything before the serving line is the banner, untimed; the view turns its
    // CR LF pairs into plain line breaks.
    QString banner = startBanner(localReachableIPv4Addresses());
    banner.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QString bannerInView = text.left(text.size() - lines.last().size());
    QCOMPARE(bannerInView.trimmed(), banner.trimmed());
}

void TestMForm::runAgentReportsTakenPortAndReturnsOne_data()
{
    QTest::addColumn<bool>("screenSeen");
    QTest::newRow("box on a screen") << true;
    // Only standard error tells: a box there would never be closed.
    QTest::newRow("no box where no one sees the screen") << false;
}

void TestMForm::runAgentReportsTakenPortAndReturnsOne()
{
    QFETCH(bool, screenSeen);
    QTcpServer squatter;
    QVERIFY(squatter.listen(QHostAddress::Any, 0));
    AgentConfig config = inProcessConfig();
    config.ports.plain = squatter.serverPort();
    QWebSocketServer probe(QStringLiteral("probe"), QWebSocketServer::NonSecureMode);
    QVERIFY(!probe.listen(QHostAddress::Any, config.ports.plain));
    const QString expectedText
        = QStringLiteral("無法啟動Kiv3 Device Proxy, 錯誤原因為:\n%1.").arg(probe.errorString());

    MForm window(nullptr, true, screenSeen);
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    int result = -1;
    {
        ModalResponder<QMessageBox> responder([&](QMessageBox *box) {
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        });
        result = runAgent(window, AgentOptions(), config);
        QCOMPARE(responder.seen(), screenSeen ? 1 : 0);
    }
    QCOMPARE(result, 1);
    if (!screenSeen)
        return;
    QCOMPARE(title, AppTexts::kProductTitle);
    QCOMPARE(text, expectedText);
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

// Inside the application's own loop: a quit request outside it would make every later
// modal loop return at once.
void TestMForm::quitEntryEndsEventLoopWithCodeZero()
{
    MForm window(nullptr, true);
    QAction *quit = entry(window, kQuitEntry);
    QVERIFY(quit);
    QTimer::singleShot(0, quit, &QAction::trigger);
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(kWaitMs);
    QCOMPARE(QApplication::exec(), 0);
}

QTEST_MAIN(TestMForm)
#include "TestMForm.moc"
