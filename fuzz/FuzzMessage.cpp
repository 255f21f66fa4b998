// One text message as a page sends it, through the request handler with a print engine that
// draws but never prints, and the log line the service builds from its action text.

#include "FuzzApplication.h"
#include "RenderingPrintEngine.h"
#include "RepeatedKeys.h"
#include "RequestHandler.h"

#include <QCoreApplication>
#include <QJsonObject>

namespace {

const QString kClient = QStringLiteral("127.0.0.1:50000");

// The log line exactly as the service writes it for a message.
QString logLine(const QString &actionText)
{
    return QCoreApplication::translate("DevProxy", "用戶'%1' %2").arg(kClient, actionText);
}

// The key a reply is sent under: the request's string "id", or "" for any other request.
QString expectedKey(const QString &message)
{
    const QJsonValue id
        = QJsonDocument::fromJson(message.toUtf8()).object().value(QStringLiteral("id"));
    return id.isString() ? id.toString() : QString();
}

void checkReply(const QString &message, const QByteArray &reply)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(reply, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        fuzzInvariantBroken("the reply is not a JSON object");
    const QJsonObject object = document.object();
    if (message.isEmpty()) {
        if (!object.value(QStringLiteral("device")).isString()
            || !object.value(QStringLiteral("version")).isString())
            fuzzInvariantBroken("the version reply lacks its device or version");
        return;
    }
    if (object.size() != 1)
        fuzzInvariantBroken("a reply holds other than one key");
    // A lone surrogate cannot pass through UTF-8 unchanged; such an id is not compared.
    const QString key = expectedKey(message);
    if (QString::fromUtf8(key.toUtf8()) == key && object.begin().key() != key)
        fuzzInvariantBroken("a reply is not keyed by the request's id");
}

void checkHandled(const QString &message, const HandledMessage &handled)
{
    if (handled.actionText.isEmpty())
        fuzzInvariantBroken("a message left no action text");
    // Text repeating a key or nested too deep is refused before it is parsed.
    const JsonScan scan = message.isEmpty() ? JsonScan::Parse : scanBeforeParsing(message);
    // The parser itself would leak on a repeated key.
    QJsonParseError error;
    const bool parses = message.isEmpty()
        || (scan != JsonScan::RepeatedKey
            && !QJsonDocument::fromJson(message.toUtf8(), &error).isNull());
    if (scan == JsonScan::TooDeep && parses)
        fuzzInvariantBroken("the scan refused as too deep what the parser takes");
    if (scan == JsonScan::Parse && !message.isEmpty()
        && error.error == QJsonParseError::DeepNesting)
        fuzzInvariantBroken("the scan let through what the parser refuses as too deep");
    const bool isJson = scan == JsonScan::Parse && parses;
    if (handled.reply.has_value() != isJson)
        fuzzInvariantBroken("a reply was sent for text that is not JSON, or none for JSON");
    if (handled.reply)
        checkReply(message, *handled.reply);
    if (!logLine(handled.actionText).endsWith(QLatin1Char(' ') + handled.actionText))
        fuzzInvariantBroken("the log line does not end with the action text");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startFuzzApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static RenderingPrintEngine engine;
    static RequestHandler handler(engine);
    // What a WebSocket text frame becomes on arrival.
    const QString message = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    HandledMessage handled;
    try {
        handled = handler.handleMessage(message);
    } catch (...) {
        fuzzInvariantBroken("handleMessage threw");
    }
    checkHandled(message, handled);
    finishFuzzInput();
    return 0;
}
