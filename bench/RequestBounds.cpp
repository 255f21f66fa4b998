// What the worst single print request of each shape costs the agent: the time its one
// thread is blocked (the message parsed, dispatched and printed until the reply is ready) and
// the process's peak resident memory meanwhile. A shape is one quantity that a page may make
// as large as the message limit allows (copies, pages, items, text length, paper size,
// rows), everything else as small as a receipt. Requests go through the agent's request
// handling and print engine to a private CUPS scheduler's PDF queue, held disabled so that its
// filters do not compete for the processors (root only). Each shape is measured at two sizes;
// its worst request is measured too when the sizes project it to below kDirectSeconds and
// kDirectBytes or when the print bounds refuse it, and projected linearly from the two sizes
// otherwise; the largest request the bounds let through is measured as well. Figures are
// against a one-copy, one-page, one-item request measured in the same run.

#include "BenchReport.h"
#include "DevProxy.h"
#include "PrintBounds.h"
#include "PrivateSpooler.h"
#include "RequestHandler.h"
#include "SpoolerPrintEngine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>

#include <functional>
#include <limits>
#include <vector>

namespace {

constexpr qint64 kMessageLimit = DevProxy::kMaxIncomingBytes;
constexpr double kDirectSeconds = 30;
constexpr double kDirectBytes = 3.0 * 1024 * 1024 * 1024;
const QString kQueue = QStringLiteral("PDF");
// Qt refuses a page whose side in points does not fit an int, from about 757,000 m on.
constexpr qint64 kLargestPaperMm = 700000000;

const QByteArray kTextItem = R"({"method":"text","x":10,"y":10,"w":60,"h":8,"text":"1"})";

QByteArray request(const QByteArray &data)
{
    return R"({"id":"b","method":"print.print","data":{"printer":"PDF","docname":"bench",)" + data
        + "}}";
}

// `unit` n times, separated by commas.
QByteArray repeated(const QByteArray &unit, qint64 n)
{
    if (n <= 0)
        return QByteArray();
    QByteArray list = (unit + ',').repeated(int(n - 1));
    return list + unit;
}

// `n` characters of words, as a long note would have them.
QByteArray words(qint64 n)
{
    return QByteArray("word ").repeated(int(n / 5 + 1)).left(int(n));
}

QByteArray pageRequest(qint64 copies, const QByteArray &pages)
{
    return request(R"("papersize":0,"copycount":)" + QByteArray::number(copies) + R"(,"pages":)"
                   + pages);
}

QByteArray rowRequest(const QByteArray &margins, const QByteArray &rows)
{
    return request(R"("doctype":"rowbase","width":80,"cfn":"Noto Sans CJK TC",)" + margins
                   + R"("rs":[)" + rows + "]");
}

// One quantity of a request as large as asked, in the units that `unit` names.
struct Shape
{
    const char *name;
    const char *unit;
    std::function<QByteArray(qint64)> message;
    qint64 small;
    qint64 large;
    // The largest size whose message fits in the limit; 0 to find it from the message sizes.
    qint64 worst = 0;
    // The largest size the print bounds let through, measured as well; 0 for none.
    qint64 bound = 0;
    // Measured as it is rather than projected: its cost does not grow with its size.
    bool alwaysMeasured = false;
};

QByteArray customPage(qint64 mm)
{
    return request(R"("papersize":30,"width":)" + QByteArray::number(mm) + R"(,"height":)"
                   + QByteArray::number(mm) + R"(,"pages":[[)" + kTextItem + "]]");
}

const std::vector<Shape> &shapes()
{
    static const std::vector<Shape> all = {
        { "copies", "copies", [](qint64 n) { return pageRequest(n, "[[" + kTextItem + "]]"); }, 10,
          50, std::numeric_limits<int>::max(),
          PrintBounds::kCopyWork / (PrintBounds::kJobWork + 1) },
        { "pages", "pages", [](qint64 n) { return pageRequest(1, "[" + repeated("[]", n) + "]"); },
          1000, 10000, 0, PrintBounds::kPages },
        { "items", "text items on one page",
          [](qint64 n) { return pageRequest(1, "[[" + repeated(kTextItem, n) + "]]"); }, 10000,
          100000, 0, PrintBounds::kItems },
        { "text length, text item", "characters",
          [](qint64 n) {
              return pageRequest(
                  1,
                  R"([[{"method":"text","x":10,"y":10,"w":190,"h":277,"wordwrap":true,"text":")"
                      + words(n) + "\"}]]");
          },
          10000, 100000, 0, PrintBounds::kCharacters },
        { "text length, row cell", "characters",
          [](qint64 n) { return rowRequest("", R"({"cs":{"text":")" + words(n) + "\"}}"); }, 10000,
          100000, 0, PrintBounds::kCharacters },
        { "paper size, custom page", "mm on each side", customPage, 1000, 1000000, kLargestPaperMm,
          0, true },
        { "paper size, receipt margin", "mm of top margin",
          [](qint64 n) {
              return rowRequest(R"("mt":)" + QByteArray::number(n) + ",", R"({"cs":{"text":"1"}})");
          },
          1000, 1000000, kLargestPaperMm, 0, true },
        { "rows", "rows",
          [](qint64 n) { return rowRequest("", repeated(R"({"cs":{"text":"1"}})", n)); }, 2000,
          20000, 0, PrintBounds::kItems },
    };
    return all;
}

// The one-copy receipt-sized request that every figure is measured against.
QByteArray baselineMessage()
{
    return pageRequest(1, "[[" + kTextItem + "]]");
}

qint64 statusKilobytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        throw BenchFailed { QStringLiteral("cannot read /proc/self/status") };
    const QRegularExpression line(QStringLiteral("^%1:\\s+(\\d+) kB").arg(QLatin1String(field)),
                                  QRegularExpression::MultilineOption);
    return line.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

// From here on the kernel counts the peak resident memory afresh.
void resetPeakMemory()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
        throw BenchFailed { QStringLiteral(
            "cannot reset the peak memory (/proc/self/clear_refs)") };
}

struct Cost
{
    double seconds = 0;
    double peakBytes = 0;
    bool projected = false;
    QString action;
};

void runCupsCommand(const QString &program, const QStringList &arguments)
{
    if (QProcess::execute(program, arguments) != 0)
        throw BenchFailed { QStringLiteral("%1 %2 failed").arg(program, arguments.join(' ')) };
}

// In a process of its own, so that no earlier request's memory is counted: one warm-up
// request, then the measured one. Prints its cost on one line.
int measureHere(QTextStream &out, const QByteArray &utf8)
{
    SpoolerPrintEngine engine;
    RequestHandler handler(engine);
    handler.handleMessage(QString::fromUtf8(baselineMessage()));
    // The agent holds the message as text before handling it.
    const QString message = QString::fromUtf8(utf8);
    resetPeakMemory();
    QElapsedTimer clock;
    clock.start();
    const HandledMessage handled = handler.handleMessage(message);
    const double seconds = clock.nsecsElapsed() / 1e9;
    out << "COST\t" << seconds << '\t' << statusKilobytes("VmHWM") * 1024.0 << '\t'
        << handled.actionText << '\n';
    return 0;
}

// Runs measureHere in a child process; the spooled jobs are thrown away after it.
Cost measure(const QString &shape, qint64 n)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                { QStringLiteral("--measure"), shape, QString::number(n) });
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        throw BenchFailed { QStringLiteral("measuring %1 at %2 failed").arg(shape).arg(n) };
    const QStringList fields
        = QString::fromUtf8(child.readAllStandardOutput()).trimmed().split('\t');
    if (fields.size() != 4 || fields.first() != QStringLiteral("COST"))
        throw BenchFailed {
            QStringLiteral("measuring %1 at %2 gave %3").arg(shape).arg(n).arg(fields.join(' '))
        };
    runCupsCommand(QStringLiteral("cancel"),
                   { QStringLiteral("-a"), QStringLiteral("-x"), kQueue });
    return { fields[1].toDouble(), fields[2].toDouble(), false, fields[3] };
}

qint64 worstSize(const Shape &shape)
{
    if (shape.worst)
        return shape.worst;
    const qint64 b1 = shape.message(shape.small).size(), b2 = shape.message(shape.large).size();
    const double bytesPerUnit = double(b2 - b1) / double(shape.large - shape.small);
    return shape.large + qint64((kMessageLimit - b2) / bytesPerUnit);
}

// Linear from the two sizes; a difference within `noise` counts as none.
double projected(double atSmall, double atLarge, const Shape &shape, qint64 n, double noise)
{
    const double rise = atLarge - atSmall > noise ? atLarge - atSmall : 0;
    return atLarge + rise / double(shape.large - shape.small) * double(n - shape.large);
}

QString amount(double seconds)
{
    if (seconds >= 86400 * 365)
        return QStringLiteral("%1 years").arg(seconds / (86400 * 365), 0, 'f', 0);
    if (seconds >= 86400)
        return QStringLiteral("%1 days").arg(seconds / 86400, 0, 'f', 1);
    if (seconds >= 10)
        return QStringLiteral("%1 s").arg(seconds, 0, 'f', 1);
    return QStringLiteral("%1 ms").arg(seconds * 1000, 0, 'f', 1);
}

QString mebibytes(double bytes)
{
    return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024), 0, 'f', 0);
}

void describe(QTextStream &out, const QString &what, const Cost &cost)
{
    const QString kind = cost.projected ? QStringLiteral(" (projected)") : QString();
    out << "  " << what << ": " << amount(cost.seconds) << ", peak " << mebibytes(cost.peakBytes)
        << kind << (cost.action.isEmpty() ? QString() : QStringLiteral(", ") + cost.action) << '\n';
    out.flush();
}

// Described, and one row for the table each for time and memory.
void report(QTextStream &out, const QString &what, const Cost &cost, const Cost &baseline)
{
    describe(out, what, cost);
    const QString kind = cost.projected ? QStringLiteral(" (projected)") : QString();
    printRow(out,
             { what + QStringLiteral(", time blocked") + kind, cost.seconds * 1000,
               QStringLiteral("ms"), baseline.seconds * 1000, QStringLiteral("one-item request"),
               cost.seconds / baseline.seconds, QStringLiteral("-") });
    printRow(out,
             { what + QStringLiteral(", peak memory") + kind, cost.peakBytes / (1024 * 1024),
               QStringLiteral("MiB"), baseline.peakBytes / (1024 * 1024),
               QStringLiteral("one-item request"), cost.peakBytes / baseline.peakBytes,
               QStringLiteral("-") });
    out.flush();
}

QString sized(const Shape &shape, const QString &which, qint64 n)
{
    return QStringLiteral("%1, %2%3 %4")
        .arg(QLatin1String(shape.name), which)
        .arg(n)
        .arg(QLatin1String(shape.unit));
}

void measureShape(QTextStream &out, const Shape &shape, const Cost &baseline)
{
    const QString name = QLatin1String(shape.name);
    out << name << ":\n";
    const Cost small = measure(name, shape.small);
    describe(out, sized(shape, QString(), shape.small), small);
    const Cost large = measure(name, shape.large);
    describe(out, sized(shape, QString(), shape.large), large);
    const qint64 worst = worstSize(shape);
    Cost cost { projected(small.seconds, large.seconds, shape, worst, 0.0),
                projected(small.peakBytes, large.peakBytes, shape, worst, 4.0 * 1024 * 1024), true,
                QString() };
    const bool refused = shape.bound && worst > shape.bound;
    if (shape.alwaysMeasured || refused
        || (cost.seconds <= kDirectSeconds && cost.peakBytes <= kDirectBytes))
        cost = measure(name, worst);
    report(out, sized(shape, QStringLiteral("worst: "), worst), cost, baseline);
    if (shape.bound)
        report(out, sized(shape, QStringLiteral("at the bound: "), shape.bound),
               measure(name, shape.bound), baseline);
}

int run(QTextStream &out)
{
    const QString unavailable = PrivateSpooler::unavailableReason();
    if (!unavailable.isEmpty()) {
        out << "bench-request-bounds needs a private CUPS scheduler: " << unavailable << '\n';
        return 0;
    }
    PrivateSpooler spooler;
    if (!spooler.start({ kQueue }, kQueue))
        throw BenchFailed { spooler.errorString() };
    spooler.useInThisProcess();
    runCupsCommand(QStringLiteral("cupsdisable"), { kQueue });

    const Cost baseline = measure(QStringLiteral("baseline"), 1);
    describe(out, QStringLiteral("one-item request"), baseline);
    for (const Shape &shape : shapes())
        measureShape(out, shape, baseline);
    return 0;
}

int measureShapeHere(QTextStream &out, const QString &name, qint64 n)
{
    if (name == QStringLiteral("baseline"))
        return measureHere(out, baselineMessage());
    for (const Shape &shape : shapes()) {
        if (name == QLatin1String(shape.name))
            return measureHere(out, shape.message(n));
    }
    throw BenchFailed { QStringLiteral("no shape %1").arg(name) };
}

} // namespace

int main(int argc, char **argv)
{
    preferOffscreenPlatform();
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 4 && arguments[1] == QStringLiteral("--measure")) {
        return runOrReportFailure(
            out, [&] { return measureShapeHere(out, arguments[2], arguments[3].toLongLong()); });
    }
    return runOrReportFailure(out, [&out] { return run(out); });
}
