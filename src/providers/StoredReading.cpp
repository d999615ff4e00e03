#include "providers/StoredReading.h"

namespace {

// Servers send reset times with a fraction of a second that the store does not keep, and the fraction can
// straddle a second between answers: whole seconds within two count as the same reset.
bool sameReset(const std::optional<QDateTime>& a, const std::optional<QDateTime>& b)
{
    if (!a || !b)
        return !a && !b;
    const qint64 apart = a->toSecsSinceEpoch() - b->toSecsSinceEpoch();
    return apart >= -2 && apart <= 2;
}

} // namespace

namespace StoredReading {

bool isNews(const UsageSnapshot& reading, const std::optional<UsageSnapshot>& previous)
{
    return !previous || reading.usedPercent != previous->usedPercent ||
           !sameReset(reading.resetAt, previous->resetAt) || reading.source != previous->source ||
           reading.modelId != previous->modelId || reading.effortLevel != previous->effortLevel ||
           previous->timestamp.secsTo(reading.timestamp) >= repeatSeconds;
}

} // namespace StoredReading
