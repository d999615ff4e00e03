#include "core/forecast/ForecastEngine.h"

#include "core/forecast/BurnRateCalculator.h"
#include "core/forecast/ForecastMath.h"
#include "core/text/NumberFormatting.h"
#include "core/text/TimeFormatting.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

namespace ForecastEngine {

namespace {

// Ascending by time, stable; snapshots without a valid time cannot be placed and are left out.
std::vector<const UsageSnapshot*> sortedByTime(const QList<UsageSnapshot>& snapshots)
{
    struct Keyed
    {
        qint64 ms;
        const UsageSnapshot* snapshot;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(static_cast<size_t>(snapshots.size()));
    for (const UsageSnapshot& snapshot : snapshots) {
        if (snapshot.timestamp.isValid())
            keyed.push_back({snapshot.timestamp.toMSecsSinceEpoch(), &snapshot});
    }
    const auto earlier = [](const Keyed& a, const Keyed& b) { return a.ms < b.ms; };
    // The store hands series over in file order, which is nearly always already ascending.
    if (!std::is_sorted(keyed.begin(), keyed.end(), earlier))
        std::stable_sort(keyed.begin(), keyed.end(), earlier);
    std::vector<const UsageSnapshot*> sorted;
    sorted.reserve(keyed.size());
    for (const Keyed& entry : keyed)
        sorted.push_back(entry.snapshot);
    return sorted;
}

bool sleepInForce(const std::optional<SleepSchedule>& sleep)
{
    return sleep && sleep->enabled;
}

double clampProjection(double value)
{
    return ForecastMath::clampNumber(value, 0, maximumProjectedPercent);
}

// What is left at reset of a projection; NaN stays NaN.
double remainingAfter(double projected)
{
    return std::isnan(projected) ? projected : std::max(0.0, 100 - projected);
}

// Usage holds where it is: the reset finds the window as the provider last stated it.
ForecastResult holding(ForecastResult result, double cur, double rem)
{
    result.status = cur < 80 ? ForecastStatus::safe : ForecastStatus::watch;
    result.projectedUsedAtReset = cur;
    result.projectedRemainingAtReset = rem;
    result.limitBeforeReset = false;
    result.sampleCount = 0;
    return result;
}

} // namespace

SourceConfidence confidenceForSampleCount(qint64 sampleCount)
{
    if (sampleCount >= 24)
        return SourceConfidence::high;
    if (sampleCount >= 5)
        return SourceConfidence::medium;
    return SourceConfidence::low;
}

std::optional<QDateTime> runOutAt(double current, double projected, const QDateTime& from,
                                  const QDateTime& resetAt)
{
    if (!(projected > 100 && current < 100 && current < projected))
        return std::nullopt;
    const double fraction = (100 - current) / (projected - current);
    return ForecastMath::addSeconds(from, fraction * ForecastMath::secondsBetween(from, resetAt));
}

ForecastResult forecast(Provider provider, WindowKind window, const QList<UsageSnapshot>& snapshots,
                        ForecastBasis basis, const std::optional<SleepSchedule>& sleep, const QDateTime& now)
{
    ForecastResult result;
    result.provider = provider;
    result.windowKind = window;
    result.basis = basis;

    const std::vector<const UsageSnapshot*> sorted = sortedByTime(snapshots);
    const std::span<const UsageSnapshot* const> series =
        std::span<const UsageSnapshot* const>(sorted).subspan(
            static_cast<size_t>(BurnRateCalculator::latestSeriesStart(sorted)));

    if (series.empty()) {
        result.status = ForecastStatus::noData;
        result.confidence = SourceConfidence::low;
        result.humanSummary = QStringLiteral("Not enough activity to forecast yet.");
        return result;
    }

    const UsageSnapshot& latest = *series.back();
    const double cur = latest.usedPercent;
    const double rem = latest.remainingPercent;
    result.currentUsedPercent = cur;
    result.currentRemainingPercent = rem;
    const bool hasReset = ForecastMath::knownReset(latest.resetAt, now);
    if (hasReset) {
        result.resetAt = latest.resetAt;
        result.timeUntilReset = ForecastMath::secondsBetween(now, *latest.resetAt);
    }

    if (ForecastMath::resetPassed(latest.resetAt, now)) {
        // Nothing read since the reset: the window starts afresh, even one that was at its limit.
        result.currentUsedPercent = 0;
        result.currentRemainingPercent = 100;
        result.limitBeforeReset = false;
        result.sampleCount = 0;
        result.status = ForecastStatus::safe;
        result.confidence = SourceConfidence::low;
        result.humanSummary = QStringLiteral("Window has reset. Waiting for a new reading.");
        return result;
    }

    if (cur >= 100 || latest.rateLimitReachedType) {
        result.status = ForecastStatus::limited;
        result.confidence = latest.sourceConfidence;
        result.projectedUsedAtReset = 100;
        result.projectedRemainingAtReset = 0;
        result.estimatedTimeToLimit = 0;
        result.runOutAt = now;
        result.limitBeforeReset = true;
        result.sampleCount = 0;
        result.humanSummary = QStringLiteral("Limit reached. Resets ") +
                              TimeFormatting::relativeCountdown(result.timeUntilReset) + QLatin1Char('.');
        return result;
    }

    if (!hasReset) {
        result.status = ForecastStatus::noData;
        result.confidence = SourceConfidence::low;
        result.humanSummary = QStringLiteral("Current usage ") + NumberFormatting::percent(cur) +
                              QStringLiteral(". Reset time unknown.");
        return result;
    }
    const QDateTime& resetAt = *latest.resetAt;
    const double timeUntilReset = *result.timeUntilReset;

    const std::optional<BurnRateCalculator::BurnRate> rate = BurnRateCalculator::burnRate(series, basis);
    if (!rate) {
        result = holding(result, cur, rem);
        result.confidence = SourceConfidence::low;
        result.humanSummary = QStringLiteral("Not enough activity to forecast yet. Current ") +
                              NumberFormatting::percent(cur) + QLatin1Char('.');
        return result;
    }

    const double perHour = rate->percentPerHour;
    if (perHour <= idleRatePercentPerHour) {
        result = holding(result, cur, rem);
        result.confidence = confidenceForSampleCount(rate->sampleCount);
        result.burnRatePercentPerHour = 0;
        result.humanSummary =
            QStringLiteral("No recent burn. Holding at ") + NumberFormatting::percent(cur) + QLatin1Char('.');
        return result;
    }

    // Burning. Sleeping hours neither burn nor count towards the time to limit.
    double activeSeconds = timeUntilReset;
    if (sleepInForce(sleep)) {
        activeSeconds =
            timeUntilReset > 0 ? std::max(0.0, timeUntilReset - sleep->sleepSeconds(now, resetAt)) : 0.0;
    }
    const double rawProjected = cur + activeSeconds / 3600.0 * perHour;
    const double projected = clampProjection(rawProjected);
    result.projectedUsedAtReset = projected;
    result.projectedRemainingAtReset = remainingAfter(projected);

    double ttl = rem / perHour * 3600.0;
    if (ttl < 0) // remaining below zero means the limit is already here, not that it lies in the past
        ttl = 0;
    if (sleepInForce(sleep) && std::isfinite(ttl) && now.isValid())
        ttl = ForecastMath::secondsBetween(now, sleep->dateAfter(ttl, now));

    result.confidence = confidenceForSampleCount(rate->sampleCount);
    if (ttl < 3600)
        result.status = ForecastStatus::limitLikely;
    else if (rawProjected >= 100)
        result.status = ForecastStatus::risky;
    else if (rawProjected >= 80)
        result.status = ForecastStatus::watch;
    else
        result.status = ForecastStatus::safe;

    result.limitBeforeReset = ttl < timeUntilReset;
    if (result.limitBeforeReset) {
        // One instant for every face: the run-out is the time to limit counted from now.
        result.estimatedTimeToLimit = ttl;
        result.runOutAt = ForecastMath::addSeconds(now, ttl);
    }
    result.burnRatePercentPerHour = perHour;
    result.sampleCount = rate->sampleCount;

    result.humanSummary = QStringLiteral("At ") + shortLabel(rate->basisUsed) + QStringLiteral(" pace: ~") +
                          NumberFormatting::percent(projected) + QStringLiteral(" by reset (est.)");
    if (result.limitBeforeReset)
        result.humanSummary += QStringLiteral(" · limit in ~") + TimeFormatting::countdown(ttl);
    else
        result.humanSummary += QStringLiteral(" · limit not before reset");
    return result;
}

} // namespace ForecastEngine
