#pragma once

#include <QString>

// Thrown by value out of the service's constructor when the plain endpoint cannot listen.
class EStartFailed
{
public:
    QString reason;
};
