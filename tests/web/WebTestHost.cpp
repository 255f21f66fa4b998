// The real service for a browser test: the agent's endpoints and print engine, a private
// spooler with one default PDF queue, a card reader on a pseudo-terminal and the stand-in
// caller-ID library, all driven by line commands on standard input.
//
// Standard output, one line each, UTF-8:
//   ready                          the service listens; commands are taken from now on
//   error start: REASON            it could not start (agent ports taken, no spooler); the
//                                  host ends with exit code 1
//   log TEXT                       a line of the service's log
//   ok COMMAND [DETAIL]            a command was carried out
//   error COMMAND: REASON          it was not
//   jobs JSON                      the answer to `jobs`
// Commands:
//   plug [DESCRIPTION]             offers a card reader, by default a "USB-Serial Controller"
//                                  adapter; answered with its label
//   unplug                         unplugs it
//   card NUMBER                    the reader sends a card frame with that number
//   call DIGITS                    the caller-ID box reports a call (DIGITS may be empty)
//   jobs                           {"jobs":[{id,queue,title,state}],
//                                   "pdfs":[{path,pages,widthPt,heightPt}]}, in job order
//   queue disable|enable|reject|accept
//                                  stops or starts the queue, or makes it refuse or take
//                                  new jobs, as an administrator would
//   paper-out add|remove           adds or removes the queue "PaperOut" of a printer out of
//                                  paper, whose jobs fail for want of it
//   quit                           ends the host, as does the end of standard input

#include "CardFrame.h"
#include "DevProxy.h"
#include "EStartFailed.h"
#include "FakeAD101.h"
#include "PrivateSpooler.h"
#include "SimulatedReader.h"
#include "SimulatedSerialPorts.h"
#include "SpoolerPrintEngine.h"
#include "TestDeviceFactory.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSocketNotifier>

#include <cstdio>
#include <memory>
#include <optional>

#include <unistd.h>

namespace {

const QString kQueue = QStringLiteral("PDF");
const QString kPaperOutQueue = QStringLiteral("PaperOut");
const QByteArray kProbeAnswer = QByteArray::fromHex("7e0a0009");
// The box's event for an incoming call, and the line it is reported on.
constexpr int kCallEvent = 9;
constexpr int kCallLine = 1;

void writeLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

// "ok COMMAND" or "error NAME: COMMAND failed", NAME being the command's first word.
void reportCommand(const QString &command, bool done)
{
    if (done)
        writeLine(QStringLiteral("ok ") + command);
    else
        writeLine(QStringLiteral("error %1: %2 failed")
                      .arg(command.section(QLatin1Char(' '), 0, 0), command));
}

} // namespace

class WebTestHost : public QObject
{
    Q_OBJECT

public:
    WebTestHost();
    ~WebTestHost() override;

    // Empty once the service listens; otherwise why it could not start.
    QString start();

private slots:
    void readInput();

private:
    void handle(const QString &command, const QString &argument);
    void plug(const QString &description);
    void unplug();
    void card(const QString &argument);
    void call(const QString &argument);
    void jobs();
    void queue(const QString &action);
    void paperOut(const QString &action);
    void shutDown();

    PrivateSpooler m_spooler;
    const std::shared_ptr<SimulatedSerialPorts> m_ports = std::make_shared<SimulatedSerialPorts>();
    std::unique_ptr<SimulatedReader> m_device;
    std::unique_ptr<DevProxy> m_proxy;
    QSocketNotifier m_input { STDIN_FILENO, QSocketNotifier::Read };
    QByteArray m_pendingInput;
};

WebTestHost::WebTestHost()
{
    m_input.setEnabled(false);
    connect(&m_input, &QSocketNotifier::activated, this, &WebTestHost::readInput);
}

WebTestHost::~WebTestHost()
{
    shutDown();
}

QString WebTestHost::start()
{
    const QString unavailable = PrivateSpooler::unavailableReason();
    if (!unavailable.isEmpty())
        return unavailable;
    if (!m_spooler.start({ kQueue }, kQueue))
        return m_spooler.errorString();
    // libcups reads its environment once, at the first print call.
    m_spooler.useInThisProcess();
    fakeAD101().reset();
    try {
        m_proxy = std::make_unique<DevProxy>(nullptr, std::make_unique<SpoolerPrintEngine>(),
                                             std::make_unique<TestDeviceFactory>(m_ports));
    } catch (const EStartFailed &failure) {
        return failure.reason;
    }
    connect(m_proxy.get(), &DevProxy::message, this,
            [](const QString &text) { writeLine(QStringLiteral("log ") + text); });
    m_input.setEnabled(true);
    return QString();
}

void WebTestHost::readInput()
{
    char buffer[4096];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
        QCoreApplication::quit();
        m_input.setEnabled(false);
        return;
    }
    m_pendingInput.append(buffer, static_cast<int>(count));
    int end;
    while ((end = m_pendingInput.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_pendingInput.left(end)).trimmed();
        m_pendingInput.remove(0, end + 1);
        const int space = line.indexOf(QLatin1Char(' '));
        handle(line.left(space), space < 0 ? QString() : line.mid(space + 1).trimmed());
    }
}

void WebTestHost::handle(const QString &command, const QString &argument)
{
    if (command == QLatin1String("plug"))
        plug(argument);
    else if (command == QLatin1String("unplug"))
        unplug();
    else if (command == QLatin1String("card"))
        card(argument);
    else if (command == QLatin1String("call"))
        call(argument);
    else if (command == QLatin1String("jobs"))
        jobs();
    else if (command == QLatin1String("queue"))
        queue(argument);
    else if (command == QLatin1String("paper-out"))
        paperOut(argument);
    else if (command == QLatin1String("quit")) {
        writeLine(QStringLiteral("ok quit"));
        QCoreApplication::quit();
    } else if (!command.isEmpty())
        writeLine(QStringLiteral("error %1: unknown command").arg(command));
}

void WebTestHost::plug(const QString &description)
{
    if (m_device) {
        writeLine(QStringLiteral("error plug: a reader is plugged in already"));
        return;
    }
    auto device = std::make_unique<SimulatedReader>(kProbeAnswer);
    if (!device->setupError().isNull()) {
        writeLine(QStringLiteral("error plug: ") + device->setupError());
        return;
    }
    const SerialPortEntry entry
        = description.isEmpty() ? device->portEntry() : device->portEntry(description);
    m_device = std::move(device);
    m_ports->setEntries({ entry });
    writeLine(QStringLiteral("ok plug %1 (%2)").arg(entry.description, entry.portName));
}

// Gone from the list before the line hangs up, so that the reader does not find it again.
void WebTestHost::unplug()
{
    if (!m_device) {
        writeLine(QStringLiteral("error unplug: no reader is plugged in"));
        return;
    }
    m_ports->setEntries({});
    m_device.reset();
    writeLine(QStringLiteral("ok unplug"));
}

void WebTestHost::card(const QString &argument)
{
    bool isNumber = false;
    const qint64 number = argument.toLongLong(&isNumber);
    const std::optional<QByteArray> frame = isNumber ? CardFrame::frameFor(number) : std::nullopt;
    if (!m_device || !frame) {
        writeLine(QStringLiteral("error card: %1")
                      .arg(m_device ? QStringLiteral("no card frame holds '%1'").arg(argument)
                                    : QStringLiteral("no reader is plugged in")));
        return;
    }
    m_device->send(*frame);
    writeLine(QStringLiteral("ok card ") + QString::number(number));
}

void WebTestHost::call(const QString &argument)
{
    const QByteArray digits = argument.toLatin1();
    fakeAD101().setCallerId(digits.constData(), digits.size(), digits.size());
    fakeAD101().fireEvent(kCallEvent, kCallLine);
    writeLine(QStringLiteral("ok call ") + argument);
}

void WebTestHost::jobs()
{
    QJsonArray jobs;
    for (const PrivateSpooler::Job &job : m_spooler.jobs()) {
        jobs.append(QJsonObject { { "id", job.id },
                                  { "queue", job.queue },
                                  { "title", job.title },
                                  { "state", job.state } });
    }
    QJsonArray pdfs;
    for (const QString &path : m_spooler.pdfs(kQueue)) {
        const PrivateSpooler::PdfInfo info = PrivateSpooler::pdfInfo(path);
        pdfs.append(QJsonObject { { "path", path },
                                  { "pages", info.pages },
                                  { "widthPt", info.pageSizePt.width() },
                                  { "heightPt", info.pageSizePt.height() } });
    }
    const QJsonObject answer { { "jobs", jobs }, { "pdfs", pdfs } };
    writeLine(QStringLiteral("jobs ")
              + QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact)));
}

// CUPS's commands reach the private spooler through the CUPS_SERVER that this process uses.
void WebTestHost::queue(const QString &action)
{
    const QStringList actions { QStringLiteral("disable"), QStringLiteral("enable"),
                                QStringLiteral("reject"), QStringLiteral("accept") };
    if (!actions.contains(action)) {
        writeLine(QStringLiteral("error queue: no such action '%1'").arg(action));
        return;
    }
    reportCommand(QStringLiteral("queue ") + action,
                  QProcess::execute(QStringLiteral("/usr/sbin/cups") + action, { kQueue }) == 0);
}

void WebTestHost::paperOut(const QString &action)
{
    if (action == QLatin1String("add"))
        reportCommand(QStringLiteral("paper-out add"), m_spooler.addPaperOutQueue(kPaperOutQueue));
    else if (action == QLatin1String("remove"))
        reportCommand(QStringLiteral("paper-out remove"),
                      QProcess::execute(QStringLiteral("/usr/sbin/lpadmin"),
                                        { QStringLiteral("-x"), kPaperOutQueue })
                          == 0);
    else
        writeLine(QStringLiteral("error paper-out: no such action '%1'").arg(action));
}

// The service goes first: deleting it waits for the reader thread, which must not find the
// simulated port again meanwhile; the spooler goes last, after every job.
void WebTestHost::shutDown()
{
    m_input.setEnabled(false);
    m_ports->setEntries({});
    m_proxy.reset();
    m_device.reset();
    m_spooler.stop();
}

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    WebTestHost host;
    const QString failure = host.start();
    if (!failure.isEmpty()) {
        writeLine(QStringLiteral("error start: ") + failure);
        return 1;
    }
    writeLine(QStringLiteral("ready"));
    return QApplication::exec();
}

#include "WebTestHost.moc"
