#include "PrivateSpooler.h"

#include "SchedulerJobs.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace {

const QString kScript = QStringLiteral(KIV3_PRIVATE_CUPS_SCRIPT);

constexpr int kStartTimeoutMs = 60000;
constexpr int kQueryTimeoutMs = 30000;
constexpr int kStopTimeoutMs = 30000;
constexpr int kJobPollMs = 100;

QString errorsOf(QProcess &process)
{
    return QString::fromUtf8(process.readAllStandardError()).trimmed();
}

// The values of start's `export NAME='VALUE'` lines, with the shell quoting undone.
QMap<QString, QString> exportedValues(const QByteArray &output)
{
    static const QRegularExpression exportLine(QStringLiteral("^export (\\w+)='(.*)'$"));
    QMap<QString, QString> values;
    for (const QString &line : QString::fromUtf8(output).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = exportLine.match(line);
        if (match.hasMatch()) {
            values.insert(match.captured(1),
                          match.captured(2).replace(QStringLiteral("'\\''"), QStringLiteral("'")));
        }
    }
    return values;
}

// "id,state,queue" of each job still pending or processing.
QStringList busyJobs(const QList<PrivateSpooler::Job> &jobs)
{
    QStringList busy;
    for (const PrivateSpooler::Job &job : jobs) {
        if (job.state == QLatin1String("pending") || job.state == QLatin1String("processing"))
            busy.append(QStringLiteral("%1,%2,%3").arg(job.id).arg(job.state, job.queue));
    }
    return busy;
}

} // namespace

PrivateSpooler::PrivateSpooler() = default;

PrivateSpooler::~PrivateSpooler()
{
    stop();
}

QString PrivateSpooler::unavailableReason()
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty())
        return QStringLiteral("pdfinfo is missing: apt-get install poppler-utils");
    QProcess check;
    check.start(kScript, { QStringLiteral("check") });
    if (!check.waitForFinished(kQueryTimeoutMs))
        return QStringLiteral("%1 did not run: %2").arg(kScript, check.errorString());
    if (check.exitStatus() != QProcess::NormalExit || check.exitCode() != 0)
        return errorsOf(check);
    return QString();
}

bool PrivateSpooler::start(const QStringList &queues, const QString &defaultQueue)
{
    if (!m_dir.isEmpty()) {
        m_errorString = QStringLiteral("the private spooler is running already");
        return false;
    }
    m_queues = queues;
    m_defaultQueue = defaultQueue;
    QByteArray output;
    if (!runScript(startArguments({}), kStartTimeoutMs, &output))
        return false;

    const QMap<QString, QString> values = exportedValues(output);
    m_dir = values.value(QStringLiteral("PCUPS_DIR"));
    m_server = values.value(QStringLiteral("CUPS_SERVER"));
    m_outputRoot = values.value(QStringLiteral("PCUPS_OUT"));
    m_home = values.value(QStringLiteral("PCUPS_HOME"));
    if (m_dir.isEmpty() || m_server.isEmpty() || m_outputRoot.isEmpty() || m_home.isEmpty()) {
        m_errorString = QStringLiteral("unexpected output of %1 start: %2")
                            .arg(kScript, QString::fromUtf8(output));
        stop();
        return false;
    }
    return true;
}

void PrivateSpooler::stop()
{
    if (m_dir.isEmpty())
        return;
    // Blocking on purpose: this also runs from destructors, where events are better left alone.
    QProcess script;
    script.start(kScript, { QStringLiteral("stop"), m_dir });
    if (!script.waitForFinished(kStopTimeoutMs) || script.exitCode() != 0)
        qWarning("private spooler in %s did not stop: %s", qPrintable(m_dir),
                 qPrintable(errorsOf(script)));
    m_dir.clear();
    m_server.clear();
    m_outputRoot.clear();
    m_home.clear();
}

bool PrivateSpooler::stopScheduler()
{
    return !m_dir.isEmpty()
        && runScript({ QStringLiteral("stop"), m_dir, QStringLiteral("--keep") }, kStopTimeoutMs);
}

bool PrivateSpooler::restartScheduler()
{
    if (m_dir.isEmpty()) {
        m_errorString = QStringLiteral("the private spooler was never started");
        return false;
    }
    return runScript(startArguments({ QStringLiteral("--dir"), m_dir }), kStartTimeoutMs);
}

QStringList PrivateSpooler::startArguments(const QStringList &options) const
{
    QStringList arguments = { QStringLiteral("start"), QStringLiteral("--watch"),
                              QString::number(QCoreApplication::applicationPid()) };
    arguments << options;
    if (!m_defaultQueue.isEmpty())
        arguments << QStringLiteral("--default") << m_defaultQueue;
    arguments << QStringLiteral("--") << m_queues;
    return arguments;
}

bool PrivateSpooler::rejectJobs(const QString &queue)
{
    return !m_dir.isEmpty()
        && runScript({ QStringLiteral("reject"), m_dir, queue }, kQueryTimeoutMs);
}

bool PrivateSpooler::disableQueue(const QString &queue)
{
    return !m_dir.isEmpty()
        && runScript({ QStringLiteral("disable"), m_dir, queue }, kQueryTimeoutMs);
}

bool PrivateSpooler::enableQueue(const QString &queue)
{
    return !m_dir.isEmpty()
        && runScript({ QStringLiteral("enable"), m_dir, queue }, kQueryTimeoutMs);
}

bool PrivateSpooler::addPaperOutQueue(const QString &queue)
{
    return !m_dir.isEmpty()
        && runScript({ QStringLiteral("add-paper-out-queue"), m_dir, queue }, kQueryTimeoutMs);
}

QString PrivateSpooler::outputDir(const QString &queue) const
{
    return m_outputRoot.isEmpty() ? QString() : m_outputRoot + QLatin1Char('/') + queue;
}

QProcessEnvironment PrivateSpooler::clientEnvironment(QProcessEnvironment base) const
{
    base.insert(QStringLiteral("CUPS_SERVER"), m_server);
    base.insert(QStringLiteral("HOME"), m_home);
    base.remove(QStringLiteral("LPDEST"));
    base.remove(QStringLiteral("PRINTER"));
    return base;
}

void PrivateSpooler::useInThisProcess() const
{
    qputenv("CUPS_SERVER", QFile::encodeName(m_server));
    qputenv("HOME", QFile::encodeName(m_home));
    qunsetenv("LPDEST");
    qunsetenv("PRINTER");
}

bool PrivateSpooler::waitForJobs(int count, int timeoutMs) const
{
    if (m_dir.isEmpty())
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    QStringList busy;
    int total = 0;
    for (;;) {
        const std::optional<QList<Job>> listed = SchedulerJobs::list(m_server, &m_errorString);
        busy = listed ? busyJobs(*listed) : QStringList { m_errorString };
        total = listed ? int(listed->size()) : 0;
        if (listed && busy.isEmpty() && total >= count)
            return true;
        if (deadline.hasExpired())
            break;
        // Events keep flowing meanwhile, so that an agent process the test reads does not
        // stall on a full pipe.
        QTest::qWait(kJobPollMs);
    }
    m_errorString
        = QStringLiteral("%1 of %2 jobs after %3 s; pending or processing: %4")
              .arg(total)
              .arg(count)
              .arg(timeoutMs / 1000.0)
              .arg(busy.isEmpty() ? QStringLiteral("none") : busy.join(QStringLiteral("; ")));
    return false;
}

QList<PrivateSpooler::Job> PrivateSpooler::jobs() const
{
    if (m_dir.isEmpty())
        return {};
    return SchedulerJobs::list(m_server, &m_errorString).value_or(QList<Job>());
}

QStringList PrivateSpooler::pdfs(const QString &queue) const
{
    static const QRegularExpression jobFile(QStringLiteral("^job_(\\d+)-.*\\.pdf$"));
    const QDir folder(outputDir(queue));
    QList<QPair<int, QString>> numbered;
    for (const QString &name : folder.entryList(QDir::Files)) {
        const QRegularExpressionMatch match = jobFile.match(name);
        if (match.hasMatch())
            numbered.append({ match.captured(1).toInt(), folder.filePath(name) });
    }
    std::sort(numbered.begin(), numbered.end());
    QStringList paths;
    for (const auto &file : numbered)
        paths.append(file.second);
    return paths;
}

PrivateSpooler::PdfInfo PrivateSpooler::pdfInfo(const QString &pdfPath)
{
    PdfInfo info;
    info.path = pdfPath;
    QProcess pdfinfo;
    pdfinfo.start(QStringLiteral("pdfinfo"), { pdfPath });
    if (!pdfinfo.waitForFinished(kQueryTimeoutMs) || pdfinfo.exitCode() != 0)
        return info;
    const QString output = QString::fromUtf8(pdfinfo.readAllStandardOutput());
    static const QRegularExpression pages(QStringLiteral("^Pages:\\s+(\\d+)$"),
                                          QRegularExpression::MultilineOption);
    // "Page size:      226 x 566 pts", or "595.276 x 841.89 pts (A4)"
    static const QRegularExpression pageSize(
        QStringLiteral("^Page size:\\s+([\\d.]+) x ([\\d.]+) pts"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch pagesMatch = pages.match(output);
    const QRegularExpressionMatch sizeMatch = pageSize.match(output);
    if (pagesMatch.hasMatch() && sizeMatch.hasMatch()) {
        info.pages = pagesMatch.captured(1).toInt();
        info.pageSizePt
            = QSizeF(sizeMatch.captured(1).toDouble(), sizeMatch.captured(2).toDouble());
    }
    return info;
}

QImage PrivateSpooler::renderPage(const QString &pdfPath, int page, int dotsPerInch)
{
    QTemporaryDir dir;
    const QString prefix = dir.filePath(QStringLiteral("page"));
    const QString number = QString::number(page);
    QProcess pdftoppm;
    pdftoppm.start(QStringLiteral("pdftoppm"),
                   { QStringLiteral("-png"), QStringLiteral("-singlefile"), QStringLiteral("-r"),
                     QString::number(dotsPerInch), QStringLiteral("-aa"), QStringLiteral("no"),
                     QStringLiteral("-aaVector"), QStringLiteral("no"), QStringLiteral("-f"),
                     number, QStringLiteral("-l"), number, pdfPath, prefix });
    if (!pdftoppm.waitForFinished(kQueryTimeoutMs) || pdftoppm.exitCode() != 0)
        return QImage();
    return QImage(prefix + QStringLiteral(".png"));
}

bool PrivateSpooler::runScript(const QStringList &arguments, int timeoutMs,
                               QByteArray *output) const
{
    QProcess script;
    script.start(kScript, arguments);
    // Events keep flowing meanwhile, so that an agent process the test reads does not stall
    // on a full pipe.
    if (!QTest::qWaitFor([&] { return script.state() == QProcess::NotRunning; }, timeoutMs)) {
        script.kill();
        script.waitForFinished();
        m_errorString = QStringLiteral("%1 %2 did not end within %3 s")
                            .arg(kScript, arguments.first())
                            .arg(timeoutMs / 1000);
        return false;
    }
    if (script.error() == QProcess::FailedToStart) {
        m_errorString = QStringLiteral("%1 did not run: %2").arg(kScript, script.errorString());
        return false;
    }
    if (output)
        *output = script.readAllStandardOutput();
    if (script.exitStatus() != QProcess::NormalExit || script.exitCode() != 0) {
        m_errorString = errorsOf(script);
        if (m_errorString.isEmpty())
            m_errorString = QStringLiteral("%1 %2 failed").arg(kScript, arguments.first());
        return false;
    }
    return true;
}
