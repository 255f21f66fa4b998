#include "MForm.h"
#include "ui_MForm.h"

#include "AppTexts.h"
#include "Banner.h"
#include "DevProxy.h"
#include "ProcessPlatform.h"
#include "SimulationMenu.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QTextBlock>
#include <QTime>

#include <algorithm>
#include <cstdio>

namespace {

using AppTexts::kCleanEntry;
using AppTexts::kDetachEntry;
using AppTexts::kHideEntry;
using AppTexts::kProductTitle;
using AppTexts::kQuitEntry;
using AppTexts::kShowEntry;
using AppTexts::kSimulationMode;
using AppTexts::kSimulationToolTip;
using AppTexts::kStarted;
using AppTexts::kStartFailed;

const char kTrayIconPath[] = ":/qu_icon_18x18.png";
const char kTimePrefixFormat[] = "hh:mm a > ";
// Pages can add lines in a loop; the view keeps the newest ones, standard error keeps all.
// Lines are counted, and so are their characters: client text in a line is cut short, yet
// ten thousand long lines would still hold tens of megabytes.
constexpr int kMaximumLogLines = 10000;
constexpr int kMaximumLogCharacters = 2000000;
// Memory of dropped lines goes back to the system after this many of them.
constexpr int kLinesDroppedBeforeReturn = 1000;

void writeToStandardError(const QString &line)
{
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace

MForm::MForm(QWidget *parent, bool trayAvailable, bool screenSeen)
    : QMainWindow(parent)
    , ui(new Ui::MForm)
    , hasTray(trayAvailable)
    , hasScreen(screenSeen)
{
    ui->setupUi(this);
    // The view only ever appends and drops lines: an undo history would keep every line it
    // ever held, and keeps the document from compacting the text of dropped ones. A plain
    // text view lays out only the lines it shows, so a hidden one costs no layout at all.
    ui->log->setUndoRedoEnabled(false);
    ui->log->setMaximumBlockCount(kMaximumLogLines);

    ui->log->setContextMenuPolicy(Qt::CustomContextMenu);
    trayMenu = ui->log->createStandardContextMenu();
    trayMenu->clear();

    createActions();
    // Both ways to the menu (the tray icon and a right click in the view) show it, so the
    // reader entry is brought up to date whenever it is about to appear.
    connect(trayMenu, &QMenu::aboutToShow, this, &MForm::updateDetachEntry);

    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setContextMenu(trayMenu);
    trayIcon->setIcon(QIcon(QString::fromLatin1(kTrayIconPath)));
    trayIcon->setVisible(true);

    connect(ui->log, &QWidget::customContextMenuRequested, this, &MForm::showContextMenu);
}

MForm::~MForm()
{
    disconnect(ui->log, &QWidget::customContextMenuRequested, this, &MForm::showContextMenu);
    if (proxy)
        disconnect(proxy, &DevProxy::message, this, &MForm::log);
    delete ui;
}

void MForm::createActions()
{
    showAction = new QAction(tr(kShowEntry), this);
    cleanAction = new QAction(tr(kCleanEntry), this);
    detachAction = new QAction(tr(kDetachEntry), this);
    quitAction = new QAction(tr(kQuitEntry), this);
    connect(showAction, &QAction::triggered, this, &MForm::toggleWindow);
    connect(cleanAction, &QAction::triggered, this, &MForm::cleanWindow);
    connect(detachAction, &QAction::triggered, this, &MForm::detachReader);
    connect(quitAction, &QAction::triggered, this, &MForm::quit);

    trayMenu->addAction(showAction);
    trayMenu->addAction(cleanAction);
    trayMenu->addSeparator();
    trayMenu->addAction(detachAction);
    trayMenu->addSeparator();
    trayMenu->addAction(quitAction);
}

void MForm::showService(DevProxy &service, const ClientPolicy &policy)
{
    proxy = &service;
    connect(proxy, &DevProxy::message, this, &MForm::log);
    writeBanner(policy);
    if (DeviceSimulator *simulator = proxy->simulator())
        offerSimulation(*simulator);
    if (!hasTray)
        toggleWindow();
}

// A box that no one sees would never be closed: the program would hang instead of ending,
// and a service manager would never start it again.
void MForm::showStartFailure(const QString &reason)
{
    const QString text = tr(kStartFailed).arg(reason);
    writeToStandardError(text);
    if (hasScreen) {
        QMessageBox::critical(nullptr, kProductTitle, text, QMessageBox::Ok);
    }
}

void MForm::offerSimulation(DeviceSimulator &simulator)
{
    log(tr(kSimulationMode));
    trayIcon->setToolTip(tr(kSimulationToolTip));
    auto *menu = new SimulationMenu(
        simulator, [this] { return proxy ? proxy->readerLabel() : QString(); }, this);
    connect(menu, &SimulationMenu::message, this, &MForm::log);
    trayMenu->insertMenu(quitAction, menu);
    trayMenu->insertSeparator(quitAction);
}

bool MForm::isScreenSeen()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal")
        && QGuiApplication::primaryScreen();
}

void MForm::writeBanner(const ClientPolicy &policy)
{
    appendLine(startBanner(localReachableIPv4Addresses(), policy));
    log(kStarted);
}

void MForm::log(const QString &text)
{
    appendLine(QTime::currentTime().toString(QLatin1String(kTimePrefixFormat)) + text);
}

// Lines are appended as plain text: they carry names that pages control, which must never
// be read as markup. The view follows the end only while it is scrolled to the end.
void MForm::appendLine(const QString &line)
{
    QTextDocument *document = ui->log->document();
    const int linesBefore = document->blockCount();
    ui->log->appendPlainText(line);
    // A full view drops as many lines as it gains; the banner's several lines drop none.
    const int droppedForCount = std::max(0, linesBefore + 1 - document->blockCount());
    returnMemoryOfDroppedLines(droppedForCount + dropLinesBeyondCharacterCap());
    writeToStandardError(line);
}

// The newest line always stays, however long it is.
int MForm::dropLinesBeyondCharacterCap()
{
    QTextDocument *document = ui->log->document();
    int excess = document->characterCount() - kMaximumLogCharacters;
    if (excess <= 0)
        return 0;
    int lines = 0;
    QTextBlock block = document->firstBlock();
    while (excess > 0 && block != document->lastBlock()) {
        excess -= block.length();
        ++lines;
        block = block.next();
    }
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, lines);
    cursor.removeSelectedText();
    return lines;
}

void MForm::returnMemoryOfDroppedLines(int dropped)
{
    m_droppedLines += dropped;
    if (m_droppedLines < kLinesDroppedBeforeReturn)
        return;
    m_droppedLines = 0;
    returnFreedPagesToSystem();
}

void MForm::closeEvent(QCloseEvent *event)
{
    event->ignore();
    if (hasTray)
        hide();
    else
        showMinimized();
    showAction->setText(tr(kShowEntry));
}

void MForm::toggleWindow()
{
    const bool shown = hasTray ? isVisible() : isVisible() && !isMinimized();
    if (shown) {
        close();
        return;
    }
    if (hasTray) {
        show();
    } else {
        showNormal();
        activateWindow();
    }
    showAction->setText(tr(kHideEntry));
}

void MForm::cleanWindow()
{
    ui->log->clear();
}

void MForm::detachReader()
{
    // While the start-failure box is open the menu is live but there is no service yet.
    if (proxy)
        proxy->detachReader();
}

void MForm::quit()
{
    QCoreApplication::exit(0);
}

void MForm::showContextMenu(const QPoint &pos)
{
    trayMenu->exec(ui->log->mapToGlobal(pos));
}

void MForm::updateDetachEntry()
{
    detachAction->setEnabled(proxy && !proxy->readerLabel().isNull());
}

// Compiled here rather than in a source of its own, which would parse the same headers again.
#include "moc_MForm.cpp"
