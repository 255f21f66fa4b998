#include "SimulationMenu.h"

#include "DeviceSimulator.h"
#include "ReaderSimulator.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace {

const char kMenuTitle[] = "simulate";
const char kDialogTitle[] = "Quor Kiv3 Device Proxy";
// A card number of the signed 64-bit range; the range itself is checked on use.
const char kCardPattern[] = "-?[0-9]{1,19}";
// Any text the log can show on one line; its length is checked on use.
const char kCallerNumberPattern[] = "[^\\x00-\\x1f\\x7f-\\x9f]*";
const char kMenuLine[] = "選單: %1";

} // namespace

SimulationMenu::SimulationMenu(DeviceSimulator &simulator, std::function<QString()> readerLabel,
                               QWidget *parent)
    : QMenu(QString::fromUtf8(kMenuTitle), parent)
    , m_simulator(simulator)
    , m_readerLabel(std::move(readerLabel))
{
    addAction(tr("連接模擬讀卡機"), this, &SimulationMenu::plugIn);
    m_unplugAction = addAction(tr("拔除模擬讀卡機"), this, &SimulationMenu::unplug);
    m_cardAction = addAction(tr("模擬刷卡..."), this, &SimulationMenu::askForCard);
    addAction(tr("模擬來電..."), this, &SimulationMenu::askForCall);
    connect(this, &QMenu::aboutToShow, this, &SimulationMenu::updateEntries);
    updateEntries();
}

void SimulationMenu::updateEntries()
{
    const bool attached = !m_readerLabel().isNull();
    m_unplugAction->setEnabled(attached);
    m_cardAction->setEnabled(attached);
}

void SimulationMenu::plugIn()
{
    emit message(tr(kMenuLine).arg(tr("模擬連接讀卡機'%1'").arg(ReaderSimulator::kDefaultLabel)));
    m_simulator.plugInReader(ReaderSimulator::kDefaultLabel);
}

void SimulationMenu::unplug()
{
    emit message(tr(kMenuLine).arg(tr("模擬拔除讀卡機")));
    m_simulator.unplugReader();
}

void SimulationMenu::askForCard()
{
    askForNumber(tr("卡號:"), QString::fromLatin1(kCardPattern), &SimulationMenu::presentCard);
}

void SimulationMenu::askForCall()
{
    askForNumber(tr("來電號碼:"), QString::fromLatin1(kCallerNumberPattern), &SimulationMenu::ring);
}

void SimulationMenu::presentCard(const QString &text)
{
    const std::optional<qint64> number = DeviceSimulator::cardNumber(text);
    if (!number) {
        emit message(tr(kMenuLine).arg(tr("模擬刷卡的卡號無效")));
        return;
    }
    emit message(tr(kMenuLine).arg(tr("模擬刷卡, 卡號為: %1").arg(*number)));
    m_simulator.presentCard(*number);
}

void SimulationMenu::ring(const QString &number)
{
    if (!DeviceSimulator::isAcceptableCallerNumber(number)) {
        emit message(tr(kMenuLine).arg(tr("模擬來電的號碼無效")));
        return;
    }
    emit message(tr(kMenuLine).arg(tr("模擬來電, 號碼為: %1").arg(number)));
    m_simulator.ring(number);
}

// Not modal to the whole program: the agent keeps serving pages while the dialog is open.
void SimulationMenu::askForNumber(const QString &label, const QString &pattern,
                                  void (SimulationMenu::*use)(const QString &))
{
    auto *dialog = new QInputDialog(parentWidget());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QString::fromUtf8(kDialogTitle));
    dialog->setLabelText(label);
    dialog->setInputMode(QInputDialog::TextInput);
    if (QLineEdit *field = dialog->findChild<QLineEdit *>()) {
        field->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), field));
    }
    connect(dialog, &QInputDialog::textValueSelected, this, use);
    dialog->open();
}
