#pragma once

#include "AgentVersion.h"

#include <QHostInfo>
#include <QString>

// The version as the build writes it into the agent.
inline QString agentVersion()
{
    return QString::fromLatin1(kAgentVersion);
}

// The version member of the agent's version reply.
inline QString versionMember()
{
    return QStringLiteral(R"("version":"%1")").arg(agentVersion());
}

// The whole version reply of the agent on this computer.
inline QString versionReply()
{
    return QStringLiteral(R"({"device":"%1",%2})").arg(QHostInfo::localHostName(), versionMember());
}
