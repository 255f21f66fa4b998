#pragma once

#include <QImage>
#include <QList>
#include <QProcessEnvironment>
#include <QSizeF>
#include <QString>
#include <QStringList>

// A CUPS scheduler of the test's own (tools/private-cups.sh) whose queues write PDF files,
// so that printing can be checked by its jobs and files without touching the computer's
// printers. It ends with this object, or with the test process should that crash.
class PrivateSpooler
{
public:
    struct Job
    {
        int id = 0;
        QString queue;
        QString title;
        // IPP job-state keyword: "completed", "processing-stopped", "pending", ...
        QString state;
    };
    struct PdfInfo
    {
        QString path;
        // 0 and an invalid size when pdfinfo could not read the file.
        int pages = 0;
        QSizeF pageSizePt;
    };

    PrivateSpooler();
    ~PrivateSpooler();
    PrivateSpooler(const PrivateSpooler &) = delete;
    PrivateSpooler &operator=(const PrivateSpooler &) = delete;

    // Why printing tests cannot run on this computer (not root, a CUPS part or pdfinfo
    // missing), or empty.
    static QString unavailableReason();

    // Starts a scheduler with these queues (none is fine); without a default queue, clients
    // see no default printer. False, with errorString() telling why, on failure.
    bool start(const QStringList &queues, const QString &defaultQueue = QString());
    // Stops the scheduler and removes its folder; the destructor does the same.
    void stop();
    QString errorString() const { return m_errorString; }
    // The queue refuses new jobs from now on, as a printer taken out of service does.
    bool rejectJobs(const QString &queue);
    // The queue stops printing, its jobs waiting, or prints again.
    bool disableQueue(const QString &queue);
    bool enableQueue(const QString &queue);
    // A queue of a printer out of paper: its backend reports "media-empty" and fails every
    // job, which the queue aborts.
    bool addPaperOutQueue(const QString &queue);
    // Stops the scheduler as a crash or an administrator would, keeping its folder with the
    // queues and jobs; restartScheduler() starts it again there, at the same address.
    bool stopScheduler();
    bool restartScheduler();

    // The CUPS_SERVER value: the scheduler's socket.
    QString server() const { return m_server; }
    // A HOME whose .cups/lpoptions names the default queue, if there is one.
    QString home() const { return m_home; }
    QString outputDir(const QString &queue) const;

    // For a client process such as the agent: CUPS_SERVER and HOME set, LPDEST and PRINTER
    // removed, since either would override the default queue.
    QProcessEnvironment clientEnvironment(QProcessEnvironment base
                                          = QProcessEnvironment::systemEnvironment()) const;
    // Points this very process at the scheduler. Must come before its first print call:
    // libcups reads the environment once per process.
    void useInThisProcess() const;

    // Waits until at least `count` jobs exist and none is pending or processing; false on
    // timeout, with errorString() telling what was still busy.
    bool waitForJobs(int count, int timeoutMs = 60000) const;
    // Every job in job-id order, titles as the client sent them; empty, with errorString()
    // telling why, when the scheduler does not answer.
    QList<Job> jobs() const;
    // The PDF files written for that queue, in job-id order.
    QStringList pdfs(const QString &queue) const;
    static PdfInfo pdfInfo(const QString &pdfPath);
    // One page (counted from 1) of a PDF as a picture of `dotsPerInch`, without
    // anti-aliasing so that hairlines come out as whole dark pixels; null on failure.
    static QImage renderPage(const QString &pdfPath, int page, int dotsPerInch);

private:
    bool runScript(const QStringList &arguments, int timeoutMs, QByteArray *output = nullptr) const;
    // The script's start command for this spooler's queues, with these options.
    QStringList startArguments(const QStringList &options) const;

    QString m_dir;
    QString m_server;
    QString m_outputRoot;
    QString m_home;
    QStringList m_queues;
    QString m_defaultQueue;
    mutable QString m_errorString;
};

// Fails the calling test at once when the private spooler cannot run here: the CI machine
// installs everything it needs, so a missing part is a fault, not a reason to skip.
#define KIV3_REQUIRE_PRIVATE_SPOOLER()                                                             \
    do {                                                                                           \
        const QString spoolerReason = PrivateSpooler::unavailableReason();                         \
        QVERIFY2(spoolerReason.isEmpty(), qPrintable(spoolerReason));                              \
    } while (false)
