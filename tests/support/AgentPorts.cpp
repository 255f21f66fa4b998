#include "AgentPorts.h"

#include <QTcpServer>

QString agentPortsTakenReason()
{
    for (const quint16 port : {quint16(54389), quint16(54390)}) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::Any, port)) {
            return QStringLiteral("port %1 is taken by another program (%2); stop it and run again")
                .arg(port)
                .arg(probe.errorString());
        }
    }
    return QString();
}
