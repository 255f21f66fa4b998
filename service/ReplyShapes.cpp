#include "ReplyShapes.h"

#include <QJsonDocument>

namespace ReplyShapes {

bool asksForOutcome(const QJsonObject &request)
{
    return request.value(QStringLiteral("outcome")) == QJsonValue(true);
}

QJsonObject success(const QString &key, const QJsonValue &value)
{
    return { { QStringLiteral("ok"), true }, { key, value } };
}

QJsonObject failure(const QString &code, const QString &message)
{
    return { { QStringLiteral("ok"), false },
             { QStringLiteral("code"), code },
             { QStringLiteral("message"), message } };
}

QJsonArray printerStates(const QList<PrinterState> &printers)
{
    QJsonArray states;
    for (const PrinterState &printer : printers) {
        states.append(QJsonObject {
            { QStringLiteral("name"), printer.name },
            { QStringLiteral("default"), printer.isDefault },
            { QStringLiteral("state"), printer.state },
            { QStringLiteral("reasons"), QJsonArray::fromStringList(printer.reasons) },
            { QStringLiteral("accepting"), printer.accepting },
            { QStringLiteral("custompaper"), printer.customPaper } });
    }
    return states;
}

QString jobEvent(const QString &requestId, int job, const QString &printer, const JobState &state)
{
    const QJsonObject progress { { QStringLiteral("id"), requestId },
                                 { QStringLiteral("job"), job },
                                 { QStringLiteral("printer"), printer },
                                 { QStringLiteral("state"), state.state },
                                 { QStringLiteral("reasons"),
                                   QJsonArray::fromStringList(state.reasons) } };
    return QString::fromUtf8(QJsonDocument(QJsonObject { { QStringLiteral("job"), progress } })
                                 .toJson(QJsonDocument::Compact));
}

} // namespace ReplyShapes
