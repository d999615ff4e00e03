#include "core/runtime/Clock.h"

QDateTime Clock::now() const
{
    return QDateTime::currentDateTimeUtc();
}

const Clock& Clock::system()
{
    static const Clock clock;
    return clock;
}
