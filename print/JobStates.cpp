#include "JobStates.h"

bool JobState::ended() const
{
    return state == QLatin1String("completed") || state == QLatin1String("canceled")
        || state == QLatin1String("aborted");
}
