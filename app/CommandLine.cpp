#include "CommandLine.h"

#include "AgentVersion.h"
#include "AppTexts.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

constexpr int kUsageErrorStatus = 2;

// The options that QGuiApplication and QApplication take for themselves, as their manuals
// list them. The command line is read before those objects exist, so they are known here
// too, hidden from the help text, and left for the application object to act on.
const char *const kToolkitOptionsWithValue[]
    = { "platform",    "platformpluginpath", "platformtheme",
        "plugin",      "qmljsdebugger",      "qwindowgeometry",
        "qwindowicon", "qwindowtitle",       "session",
        "display",     "geometry",           "style",
        "stylesheet" };
const char *const kToolkitFlags[] = { "reverse", "widgetcount" };

void addToolkitOptions(QCommandLineParser &parser)
{
    for (const char *name : kToolkitOptionsWithValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : kToolkitFlags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

int reportUsageError(const QString &reason)
{
    const QString text = QStringLiteral("%1: %2\nTry '%1 --help' for the options.\n")
                             .arg(QCoreApplication::applicationName(), reason);
    std::fputs(text.toLocal8Bit().constData(), stderr);
    return kUsageErrorStatus;
}

} // namespace

std::optional<int> readCommandLine(const QStringList &arguments, AgentOptions &options)
{
    QCoreApplication::setApplicationVersion(QLatin1String(kAgentVersion));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lets web pages print, list printers and receive card-reader and caller-ID events "
        "through WebSocket endpoints on ports 54389 (ws) and 54390 (wss).\n"
        "Without options every page of every origin may connect, on every interface."));
    const QCommandLineOption allowOrigin(
        QStringLiteral("allow-origin"),
        QStringLiteral("Admit only pages of this origin (scheme://host[:port], as browsers "
                       "send it); repeat for more origins."),
        QStringLiteral("ORIGIN"));
    const QCommandLineOption allowNoOrigin(
        QStringLiteral("allow-no-origin"),
        QStringLiteral("With --allow-origin, also admit clients that send no origin "
                       "(programs rather than browsers)."));
    const QCommandLineOption localOnly(
        QStringLiteral("local-only"),
        QStringLiteral("Listen on 127.0.0.1 and ::1 only: pages on other computers cannot "
                       "connect."));
    const QCommandLineOption simulateDevices(
        QStringLiteral("simulate-devices"),
        QStringLiteral("For developing pages: a simulated card reader and caller-ID line "
                       "instead of the real ones, driven by pages (methods simulate.reader, "
                       "simulate.unreader, simulate.card, simulate.callin) and by the tray's "
                       "simulate menu. Not for the front desk."));
    parser.addOptions({ allowOrigin, allowNoOrigin, localOnly, simulateDevices });
    // The toolkit's options are single words after one dash, such as -platform offscreen.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    addToolkitOptions(parser);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();

    if (!parser.parse(arguments))
        return reportUsageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty()) {
        return reportUsageError(
            AppTexts::kUnexpectedArgument.arg(parser.positionalArguments().first()));
    }
    if (parser.isSet(help))
        parser.showHelp(0);
    if (parser.isSet(version))
        parser.showVersion();

    const QStringList origins = parser.values(allowOrigin);
    for (const QString &origin : origins) {
        if (!ClientPolicy::isOrigin(origin)) {
            return reportUsageError(AppTexts::kNotAnOrigin.arg(origin));
        }
    }
    options.policy.allowedOrigins = origins;
    options.policy.allowNoOrigin = parser.isSet(allowNoOrigin);
    options.policy.localOnly = parser.isSet(localOnly);
    options.simulateDevices = parser.isSet(simulateDevices);
    return std::nullopt;
}
