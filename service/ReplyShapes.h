#pragma once

#include "JobStates.h"
#include "PrinterStates.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// The replies and events that pages opt into: outcomes instead of null, the printers' states,
// and the progress of their print jobs.
namespace ReplyShapes {

// Whether the request asks for an outcome: its "outcome" is the JSON literal true.
bool asksForOutcome(const QJsonObject &request);
// {"ok":true,KEY:VALUE}
QJsonObject success(const QString &key, const QJsonValue &value);
// {"ok":false,"code":CODE,"message":TEXT}
QJsonObject failure(const QString &code, const QString &message);
// [{"name":..,"default":..,"state":..,"reasons":[..],"accepting":..,"custompaper":..}, ...]
QJsonArray printerStates(const QList<PrinterState> &printers);
// {"job":{"id":REQUEST_ID,"job":JOB,"printer":NAME,"state":STATE,"reasons":[..]}}
QString jobEvent(const QString &requestId, int job, const QString &printer, const JobState &state);

} // namespace ReplyShapes
