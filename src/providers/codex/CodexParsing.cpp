#include "providers/codex/CodexParsing.h"

#include <algorithm>

namespace CodexParsing {

WindowKind classify(std::optional<double> windowDurationMins)
{
    if (!windowDurationMins)
        return WindowKind::unknown;
    const double d = *windowDurationMins;
    // Comparisons with NaN are false, so NaN falls through to unknown.
    if (d >= 240 && d <= 360)
        return WindowKind::fiveHour;
    if (d >= 9000 && d <= 11000)
        return WindowKind::sevenDay;
    if (d >= 43000 && d <= 45000)
        return WindowKind::monthly;
    return WindowKind::unknown;
}

QList<UsageSnapshot> snapshots(const CodexRateLimitBucket& bucket, const QDateTime& now)
{
    QList<UsageSnapshot> result;
    for (const auto* window : {&bucket.primary, &bucket.secondary}) {
        if (!*window || !(*window)->usedPercent)
            continue;
        const CodexRateLimitWindow& w = **window;
        UsageSnapshot snapshot;
        snapshot.provider = Provider::codex;
        snapshot.timestamp = now;
        snapshot.windowKind = classify(w.windowDurationMins);
        snapshot.usedPercent = *w.usedPercent;
        snapshot.remainingPercent = std::max(0.0, 100.0 - *w.usedPercent);
        snapshot.resetAt = w.resetAt;
        snapshot.windowDurationMins = w.windowDurationMins;
        snapshot.limitId = bucket.limitId;
        snapshot.limitName = bucket.limitName;
        snapshot.planType = bucket.planType;
        snapshot.rateLimitReachedType = bucket.rateLimitReachedType;
        snapshot.source = source;
        snapshot.sourceConfidence = SourceConfidence::high;
        result.append(std::move(snapshot));
    }
    return result;
}

} // namespace CodexParsing
