#include "SimulationMenu.h"

#include "AppTexts.h"
#include "DeviceSimulator.h"
#include "ReaderSimulator.h"
#include "SimulationTexts.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace {

using AppTexts::kCallEntry;
using AppTexts::kCallerNumberLabel;
using AppTexts::kCardEntry;
using AppTexts::kCardLabel;
using AppTexts::kMenuLine;
using AppTexts::kPlugInEntry;
using AppTexts::kProductTitle;
using AppTexts::kSimulationMenuTitle;
using AppTexts::kUnplugEntry;
using SimulationTexts::kCallinSimulated;
using SimulationTexts::kCardSimulated;
using SimulationTexts::kInvalidCard;
using SimulationTexts::kInvalidNumber;
using SimulationTexts::kReaderSimulated;
using SimulationTexts::kUnreaderSimulated;

// A card number of the signed 64-bit range; the range itself is checked on use.
const char kCardPattern[] = "-?[0-9]{1,19}";
// Any text the log can show on one line; its length is checked on use.
const char kCallerNumberPattern[] = "[^\\x00-\\x1f\\x7f-\\x9f]*";

} // namespace

SimulationMenu::SimulationMenu(DeviceSimulator &simulator, std::function<QString()> readerLabel,
                               QWidget *parent)
    : QMenu(kSimulationMenuTitle, parent)
    , m_simulator(simulator)
    , m_readerLabel(std::move(readerLabel))
{
    addAction(tr(kPlugInEntry), this, &SimulationMenu::plugIn);
    m_unplugAction = addAction(tr(kUnplugEntry), this, &SimulationMenu::unplug);
    m_cardAction = addAction(tr(kCardEntry), this, &SimulationMenu::askForCard);
    addAction(tr(kCallEntry), this, &SimulationMenu::askForCall);
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
    emit message(tr(kMenuLine).arg(tr(kReaderSimulated).arg(ReaderSimulator::kDefaultLabel)));
    m_simulator.plugInReader(ReaderSimulator::kDefaultLabel);
}

void SimulationMenu::unplug()
{
    emit message(tr(kMenuLine).arg(tr(kUnreaderSimulated)));
    m_simulator.unplugReader();
}

void SimulationMenu::askForCard()
{
    askForNumber(tr(kCardLabel), QString::fromLatin1(kCardPattern), &SimulationMenu::presentCard);
}

void SimulationMenu::askForCall()
{
    askForNumber(tr(kCallerNumberLabel), QString::fromLatin1(kCallerNumberPattern),
                 &SimulationMenu::ring);
}

void SimulationMenu::presentCard(const QString &text)
{
    const std::optional<qint64> number = DeviceSimulator::cardNumber(text);
    if (!number) {
        emit message(tr(kMenuLine).arg(tr(kInvalidCard)));
        return;
    }
    emit message(tr(kMenuLine).arg(tr(kCardSimulated).arg(*number)));
    m_simulator.presentCard(*number);
}

void SimulationMenu::ring(const QString &number)
{
    if (!DeviceSimulator::isAcceptableCallerNumber(number)) {
        emit message(tr(kMenuLine).arg(tr(kInvalidNumber)));
        return;
    }
    emit message(tr(kMenuLine).arg(tr(kCallinSimulated).arg(number)));
    m_simulator.ring(number);
}

// Not modal to the whole program: the agent keeps serving pages while the dialog is open.
void SimulationMenu::askForNumber(const QString &label, const QString &pattern,
                                  void (SimulationMenu::*use)(const QString &))
{
    auto *dialog = new QInputDialog(parentWidget());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(kProductTitle);
    dialog->setLabelText(label);
    dialog->setInputMode(QInputDialog::TextInput);
    if (QLineEdit *field = dialog->findChild<QLineEdit *>()) {
        field->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), field));
    }
    connect(dialog, &QInputDialog::textValueSelected, this, use);
    dialog->open();
}

// Compiled here rather than in a source of its own, which would parse the same headers again.
#include "moc_SimulationMenu.cpp"
