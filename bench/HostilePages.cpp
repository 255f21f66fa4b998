// What a hostile page can make the agent program do to every other page: each row of
// messages below is sent to a fresh agent (offscreen, no device, printing to a private CUPS
// scheduler's PDF queue, held disabled so that its filters do not compete for the processors;
// root only), while another page asks for the version again and again. Figures: the longest
// that page waited for an answer, and the agent's peak anonymous memory above its resting
// memory; the targets are under 10 s and under 256 MiB for every row, under 2 s during the
// flood. A row that is not done after the cap (60 s unless given) counts as the cap.
// Usage: bench-hostile-pages [--agent PATH] [--cap SECONDS] [--only ROW]...; PATH, another
// build of the agent program to measure. Uses the agent's fixed ports.

#include "AgentProgram.h"
#include "AppTexts.h"
#include "BenchReport.h"
#include "DevProxy.h"
#include "PrivateSpooler.h"
#include "RawWebSocket.h"

#include <QElapsedTimer>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kDefaultCapSeconds = 60;
constexpr int kStartTimeoutMs = 20000;
constexpr int kProbePauseMs = 20;
constexpr int kSendChunk = 1024 * 1024;
// Below the message limit, whatever the frame's own bytes.
constexpr int kLimitMargin = 100;
constexpr qint64 kMessageLimit = DevProxy::kMaxIncomingBytes;
const QString kQueue = QStringLiteral("PDF");

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A WebSocket client on a blocking socket that waits as long as it is told to.
class Page
{
public:
    Page()
        : m_fd(RawWebSocket::connectToLoopback(DevProxy::kPlainPort))
    {
        if (m_fd < 0
            || !RawWebSocket::sendAll(m_fd, RawWebSocket::handshakeRequest(DevProxy::kPlainPort))
            || !RawWebSocket::readHandshakeAnswer(m_fd))
            throw BenchFailed { QStringLiteral("a page could not connect") };
    }
    ~Page() { ::close(m_fd); }
    Page(const Page &) = delete;
    Page &operator=(const Page &) = delete;

    bool send(const QByteArray &text)
    {
        return RawWebSocket::sendAll(m_fd, RawWebSocket::maskedFrame(0x1, text));
    }

    // Sends frames already made and empties them.
    bool sendFrames(QByteArray &frames)
    {
        const bool sent = RawWebSocket::sendAll(m_fd, frames);
        frames.clear();
        return sent;
    }

    bool closed() const { return m_closed; }

    // The next text message, or an empty array once the deadline has passed or the
    // connection has ended.
    QByteArray receive(Clock::time_point deadline)
    {
        for (;;) {
            QByteArray message;
            if (takeMessage(message))
                return message;
            const auto left
                = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                      .count();
            pollfd readable { m_fd, POLLIN, 0 };
            if (left <= 0 || ::poll(&readable, 1, int(left)) <= 0)
                return QByteArray();
            char chunk[65536];
            const ssize_t got = ::read(m_fd, chunk, sizeof chunk);
            if (got <= 0) {
                m_closed = true;
                return QByteArray();
            }
            m_buffer.append(chunk, int(got));
        }
    }

private:
    // Unmasked server frames: text, or anything else, which is skipped.
    bool takeMessage(QByteArray &message)
    {
        while (m_buffer.size() >= 2) {
            qint64 length = quint8(m_buffer[1]) & 0x7F;
            int header = 2;
            if (length == 126) {
                if (m_buffer.size() < 4)
                    return false;
                length = (quint8(m_buffer[2]) << 8) | quint8(m_buffer[3]);
                header = 4;
            } else if (length == 127) {
                if (m_buffer.size() < 10)
                    return false;
                length = 0;
                for (int i = 2; i < 10; ++i)
                    length = (length << 8) | quint8(m_buffer[i]);
                header = 10;
            }
            if (m_buffer.size() < header + length)
                return false;
            const bool text = (quint8(m_buffer[0]) & 0x0F) == 0x1;
            message = m_buffer.mid(header, int(length));
            m_buffer.remove(0, header + int(length));
            if (text)
                return true;
        }
        return false;
    }

    const int m_fd;
    QByteArray m_buffer;
    bool m_closed = false;
};

// What the hostile pages send, each page on a connection of its own.
struct Row
{
    const char *name;
    std::function<std::vector<QByteArray>()> messagesOfEachPage;
    int pages;
};

QByteArray printRequest(const QByteArray &data)
{
    return R"({"id":"h","method":"print.print","data":{)" + data + "}}";
}

QByteArray repeated(const QByteArray &unit, int n)
{
    QByteArray list;
    list.reserve(int(qint64(unit.size() + 1) * n));
    for (int i = 0; i < n; ++i) {
        if (i > 0)
            list += ',';
        list += QByteArray(unit).replace("%i", QByteArray::number(i));
    }
    return list;
}

// As long as the message may be, with the rest of the message around it.
QByteArray filling(char character, int rest)
{
    return QByteArray(int(kMessageLimit) - kLimitMargin - rest, character);
}

// Families of installed fonts, as many as asked for (repeated if fewer are installed).
QByteArrayList installedFamilies(int count)
{
    const QStringList families = QFontDatabase().families();
    if (families.isEmpty())
        throw BenchFailed { QStringLiteral("no font is installed") };
    QByteArrayList chosen;
    for (int i = 0; i < count; ++i)
        chosen.append(families.at(i % families.size()).toUtf8());
    return chosen;
}

QByteArray fiftyFacePage(int copies)
{
    QByteArray items;
    const QByteArrayList families = installedFamilies(50);
    for (int i = 0; i < families.size(); ++i) {
        items += R"({"method":"font","name":")" + families.at(i) + R"(","size":)"
            + QByteArray::number(8 + i % 20) + R"(},{"method":"text","x":5,"y":)"
            + QByteArray::number(5 + i * 5) + R"(,"w":100,"h":5,"text":"Aa 收據 )"
            + QByteArray::number(i) + "\"},";
    }
    items.chop(1);
    return printRequest(R"("printer":"PDF","papersize":0,"copycount":)" + QByteArray::number(copies)
                        + R"(,"pages":[[)" + items + "]]");
}

// A receipt of one cell holding `words` five-character words.
QByteArray receiptText(int fontSize, int words)
{
    return printRequest(R"("printer":"PDF","doctype":"rowbase","width":80,"rs":[{"cs":{"fs":)"
                        + QByteArray::number(fontSize) + R"(,"text":")"
                        + QByteArray("word ").repeated(words) + "\"}}]");
}

const std::vector<Row> &rows()
{
    static const std::vector<Row> all = {
        { "1 unknown printer named with 16 MiB",
          [] {
              const QByteArray request = printRequest(R"("printer":"%1")");
              return std::vector<QByteArray> { QByteArray(request).replace(
                  "%1", filling('n', request.size() - 2)) };
          },
          1 },
        { "2 printer name forging a log line",
          [] {
              return std::vector<QByteArray> { printRequest(
                  R"("printer":"x\r\n07:00 am > 用戶'(10.0.0.66)' 執行列印作業\u001b]0;t\u0007)"
                  R"(\u001b[2J\u0000\b\u202e")") };
          },
          1 },
        { "3 receipt of 100,000 cells, each a new font family",
          [] {
              return std::vector<QByteArray> { printRequest(
                  R"("printer":"PDF","doctype":"rowbase","width":80,"rs":[)"
                  + repeated(R"({"cs":{"fn":"F%i","text":"x"}})", 100000) + "]") };
          },
          1 },
        { "4 999 copies of a page with 50 installed faces",
          [] { return std::vector<QByteArray> { fiftyFacePage(999) }; }, 1 },
        { "5 text alignment of 16 MiB, 100 copies",
          [] {
              const QByteArray request = printRequest(
                  R"("printer":"PDF","papersize":0,"copycount":100,"pages":[[{"method":"text",)"
                  R"("x":5,"y":5,"w":50,"h":9,"text":"x","align":"%1"}]])");
              return std::vector<QByteArray> { QByteArray(request).replace(
                  "%1", filling('l', request.size() - 2)) };
          },
          1 },
        { "6 five receipts of 1,000,000 characters at fs 100000",
          [] { return std::vector<QByteArray> { receiptText(100000, 200000) }; }, 5 },
        { "7 200,000 empty messages on one connection",
          [] { return std::vector<QByteArray>(200000); }, 1 },
        { "8 twelve messages nested 4,194,000 deep",
          [] { return std::vector<QByteArray>(12, QByteArray(R"({"":)").repeated(4194000)); }, 1 },
        // The most that the print bounds let through in the shapes above.
        { "9 200 copies of a one-face page",
          [] {
              return std::vector<QByteArray> { printRequest(
                  R"("printer":"PDF","papersize":0,"copycount":200,"pages":[[{"method":"text",)"
                  R"("x":5,"y":5,"w":50,"h":9,"text":"收據 1"}]])") };
          },
          1 },
        { "10 30 copies of the page with 50 installed faces",
          [] { return std::vector<QByteArray> { fiftyFacePage(30) }; }, 1 },
        { "11 five receipts of 11,900 characters at fs 1000",
          [] { return std::vector<QByteArray> { receiptText(1000, 2380) }; }, 5 },
        { "12 receipt of 100,000 cells in 99 font families",
          [] {
              QByteArray rows;
              for (int i = 0; i < 100000; ++i)
                  rows += R"({"cs":{"fn":"F)" + QByteArray::number(i % 99) + R"(","text":"x"}},)";
              rows.chop(1);
              return std::vector<QByteArray> { printRequest(
                  R"("printer":"PDF","doctype":"rowbase","width":80,"rs":[)" + rows + "]") };
          },
          1 },
    };
    return all;
}

struct Figures
{
    double longestWaitSeconds = 0;
    double peakAboveRestingMiB = 0;
    bool done = false;
    int cutOff = 0;
    int forgedLogged = 0;
};

enum class PageEnd { Served, CutOff, Unfinished };

// Sends every message, then a version query, whose answer tells that everything before it
// on this connection has been handled. Small messages go out a megabyte of frames at a time,
// as fast as a page in a loop can send them.
PageEnd runHostilePage(const std::vector<QByteArray> &messages, Clock::time_point deadline)
{
    Page page;
    QByteArray frames;
    for (const QByteArray &message : messages) {
        frames += RawWebSocket::maskedFrame(0x1, message);
        if (frames.size() >= kSendChunk && !page.sendFrames(frames))
            return PageEnd::CutOff;
    }
    frames += RawWebSocket::maskedFrame(0x1, QByteArray());
    if (!page.sendFrames(frames))
        return PageEnd::CutOff;
    for (;;) {
        const QByteArray reply = page.receive(deadline);
        if (reply.isEmpty())
            return page.closed() ? PageEnd::CutOff : PageEnd::Unfinished;
        if (reply.contains("\"version\""))
            return PageEnd::Served;
    }
}

// Lines of the log that a page forged, and characters in it that a terminal would act on.
int forgedLinesAndControls(const QString &errorFile)
{
    QFile file(errorFile);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QString log = QString::fromUtf8(file.readAll());
    int count = log.count(QStringLiteral("\n07:00 am > 用戶'(10.0.0.66)'"));
    for (const QChar character : log) {
        const ushort unit = character.unicode();
        if (unit == 0x1B || unit == 0 || unit == 0x07 || unit == 0x08 || unit == 0x202E)
            ++count;
    }
    return count;
}

Figures measureRow(const QString &agentPath, const Row &row, const QString &errorFile,
                   int capSeconds)
{
    // Built before the agent starts: building 16 MiB messages takes a while.
    std::vector<std::vector<QByteArray>> pages;
    for (int i = 0; i < row.pages; ++i)
        pages.push_back(row.messagesOfEachPage());

    AgentProgram agent(agentPath, errorFile);
    agent.awaitLines(AppTexts::kStarted, 1, kStartTimeoutMs);
    const double resting = agent.sample().anonymousMiB;
    Page probe;
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::seconds(capSeconds);

    std::atomic<int> pagesDone { 0 };
    std::atomic<int> pagesCut { 0 };
    std::atomic<bool> stop { false };
    std::atomic<double> peak { resting };
    std::thread sampler([&] {
        while (!stop) {
            if (const std::optional<ProcessSample> now = sampleProcess(agent.pid()))
                peak = std::max(peak.load(), now->anonymousMiB);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    std::vector<std::thread> hostile;
    for (const std::vector<QByteArray> &messages : pages) {
        hostile.emplace_back([&messages, deadline, &pagesDone, &pagesCut] {
            const PageEnd end = runHostilePage(messages, deadline);
            if (end != PageEnd::Unfinished)
                ++pagesDone;
            if (end == PageEnd::CutOff)
                ++pagesCut;
        });
    }

    Figures figures;
    while (pagesDone < row.pages && Clock::now() < deadline) {
        const Clock::time_point asked = Clock::now();
        if (!probe.send(QByteArray()))
            break;
        const bool answered = !probe.receive(deadline).isEmpty();
        figures.longestWaitSeconds = std::max(figures.longestWaitSeconds, secondsSince(asked));
        if (!answered)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(kProbePauseMs));
    }
    // A probe still unanswered at the deadline means the agent was not done either.
    figures.done = pagesDone == row.pages && figures.longestWaitSeconds < capSeconds;
    figures.cutOff = pagesCut;
    stop = true;
    sampler.join();
    figures.peakAboveRestingMiB = peak - resting;
    // Pages still waiting give up at the deadline; a frozen agent is ended by its destructor.
    for (std::thread &page : hostile)
        page.join();
    figures.forgedLogged = forgedLinesAndControls(errorFile);
    return figures;
}

struct Options
{
    QString agentPath = QStringLiteral(KIV3_AGENT_PATH);
    int capSeconds = kDefaultCapSeconds;
    QStringList only;
};

Options readOptions(const QStringList &arguments)
{
    Options options;
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == QStringLiteral("--agent"))
            options.agentPath = arguments[i + 1];
        else if (arguments[i] == QStringLiteral("--cap"))
            options.capSeconds = arguments[i + 1].toInt();
        else if (arguments[i] == QStringLiteral("--only"))
            options.only.append(arguments[i + 1]);
        else
            throw BenchFailed { QStringLiteral("unknown option %1").arg(arguments[i]) };
    }
    if (arguments.size() % 2 == 0 || options.capSeconds <= 0)
        throw BenchFailed { QStringLiteral(
            "usage: bench-hostile-pages [--agent PATH] [--cap SECONDS] [--only ROW]...") };
    return options;
}

void startSpooler(PrivateSpooler &spooler)
{
    const QString unavailable = PrivateSpooler::unavailableReason();
    if (!unavailable.isEmpty())
        throw BenchFailed { unavailable };
    if (!spooler.start({ kQueue }, kQueue))
        throw BenchFailed { spooler.errorString() };
    spooler.useInThisProcess();
    // The agent is started with this process's environment.
    const QProcessEnvironment environment = spooler.clientEnvironment();
    for (const QString &key : { QStringLiteral("CUPS_SERVER"), QStringLiteral("HOME") })
        qputenv(qPrintable(key), environment.value(key).toLocal8Bit());
    qunsetenv("LPDEST");
    qunsetenv("PRINTER");
    if (QProcess::execute(QStringLiteral("cupsdisable"), { kQueue }) != 0)
        throw BenchFailed { QStringLiteral("cupsdisable failed") };
}

int run(QTextStream &out, const Options &options)
{
    PrivateSpooler spooler;
    startSpooler(spooler);
    QTemporaryDir folder;
    out << "Agent: " << options.agentPath << "; cap " << options.capSeconds << " s\n";
    out << "Row\tlongest wait of another page (s)\tpeak anonymous above resting (MiB)\t"
           "forged lines and terminal controls in the log\thostile pages cut off\n";
    out.flush();
    int number = 0;
    for (const Row &row : rows()) {
        ++number;
        if (!options.only.isEmpty() && !options.only.contains(QString::number(number)))
            continue;
        const QString errorFile = folder.filePath(QStringLiteral("agent-%1.err").arg(number));
        const Figures figures = measureRow(options.agentPath, row, errorFile, options.capSeconds);
        out << row.name << '\t' << (figures.done ? "" : ">= ")
            << QString::number(figures.longestWaitSeconds, 'f', 2) << '\t'
            << QString::number(figures.peakAboveRestingMiB, 'f', 0) << '\t' << figures.forgedLogged
            << '\t' << figures.cutOff << '\n';
        printRow(out,
                 { QStringLiteral("hostile page %1: longest wait").arg(number),
                   figures.longestWaitSeconds, QStringLiteral("s"), 10, QStringLiteral("target"),
                   figures.longestWaitSeconds / 10, QStringLiteral("<= 1") });
        printRow(out,
                 { QStringLiteral("hostile page %1: peak memory").arg(number),
                   figures.peakAboveRestingMiB, QStringLiteral("MiB"), 256,
                   QStringLiteral("target"), figures.peakAboveRestingMiB / 256,
                   QStringLiteral("<= 1") });
        out.flush();
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    preferOffscreenPlatform();
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    return runOrReportFailure(out, [&] { return run(out, readOptions(app.arguments())); });
}
