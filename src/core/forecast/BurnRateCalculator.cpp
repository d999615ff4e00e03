#include "core/forecast/BurnRateCalculator.h"

#include "core/forecast/ForecastMath.h"

#include <cmath>
#include <vector>

namespace BurnRateCalculator {

namespace {

std::vector<const UsageSnapshot*> pointersTo(const QList<UsageSnapshot>& series)
{
    std::vector<const UsageSnapshot*> pointers;
    pointers.reserve(static_cast<size_t>(series.size()));
    for (const UsageSnapshot& snapshot : series)
        pointers.push_back(&snapshot);
    return pointers;
}

// An invalid reset date counts as no reset date.
const QDateTime* validReset(const UsageSnapshot& snapshot)
{
    return snapshot.resetAt && snapshot.resetAt->isValid() ? &*snapshot.resetAt : nullptr;
}

bool isResetBoundary(const UsageSnapshot& previous, const UsageSnapshot& next)
{
    if (next.usedPercent < previous.usedPercent - resetDropPoints)
        return true;
    const QDateTime* before = validReset(previous);
    const QDateTime* after = validReset(next);
    if (before == nullptr || after == nullptr)
        return false;
    const double shift = std::fabs(ForecastMath::secondsBetween(*before, *after));
    return shift > resetShiftSeconds;
}

std::optional<BurnRate> fixedLookBack(std::span<const UsageSnapshot* const> series, ForecastBasis basis,
                                      double windowSeconds)
{
    const UsageSnapshot& latest = *series.back();
    if (!latest.timestamp.isValid())
        return std::nullopt;
    // Float seconds: extreme dates must not overflow an integer subtraction.
    const double latestSeconds = ForecastMath::epochSeconds(latest.timestamp);
    const double cutoff = latestSeconds - windowSeconds;
    // The series is ascending, so the kept snapshots are a suffix: walk back until one is too old.
    const UsageSnapshot* first = nullptr;
    double firstSeconds = 0;
    qint64 kept = 0;
    for (auto it = series.rbegin(); it != series.rend(); ++it) {
        const UsageSnapshot* snapshot = *it;
        if (!snapshot->timestamp.isValid())
            continue;
        const double seconds = ForecastMath::epochSeconds(snapshot->timestamp);
        if (seconds < cutoff)
            break;
        first = snapshot;
        firstSeconds = seconds;
        ++kept;
    }
    if (kept < 2 || first == nullptr)
        return std::nullopt;
    const double spanHours = (latestSeconds - firstSeconds) / 3600.0;
    if (!(spanHours > minimumSpanHours))
        return std::nullopt;
    return BurnRate{(latest.usedPercent - first->usedPercent) / spanHours, kept, spanHours, basis};
}

std::optional<BurnRate> sinceWindowStart(std::span<const UsageSnapshot* const> series)
{
    const UsageSnapshot& latest = *series.back();
    const QDateTime* resetAt = validReset(latest);
    if (resetAt == nullptr || !latest.windowDurationMins || !latest.timestamp.isValid())
        return std::nullopt;
    // In float seconds: a wild window duration must not overflow a date.
    const double windowStart = ForecastMath::epochSeconds(*resetAt) - *latest.windowDurationMins * 60.0;
    const double spanHours = (ForecastMath::epochSeconds(latest.timestamp) - windowStart) / 3600.0;
    if (!(spanHours > minimumSpanHours))
        return std::nullopt;
    // The window is taken to have started at 0 %.
    return BurnRate{latest.usedPercent / spanHours, static_cast<qint64>(series.size()), spanHours,
                    ForecastBasis::sinceWindowStart};
}

} // namespace

bool operator==(const BurnRate& a, const BurnRate& b)
{
    return ForecastMath::sameNumber(a.percentPerHour, b.percentPerHour) && a.sampleCount == b.sampleCount &&
           ForecastMath::sameNumber(a.spanHours, b.spanHours) && a.basisUsed == b.basisUsed;
}

std::optional<double> lookBackSeconds(ForecastBasis basis)
{
    switch (basis) {
    case ForecastBasis::last30m:
        return 1800;
    case ForecastBasis::last1h:
        return 3600;
    case ForecastBasis::last3h:
        return 10800;
    case ForecastBasis::last6h:
        return 21600;
    case ForecastBasis::last24h:
        return 86400;
    case ForecastBasis::sinceWindowStart:
    case ForecastBasis::smart:
        break;
    }
    return std::nullopt;
}

qsizetype latestSeriesStart(std::span<const UsageSnapshot* const> series)
{
    // Only the last boundary matters, so walk back from the newest pair and stop at the first one.
    for (size_t i = series.size(); i > 1; --i) {
        if (isResetBoundary(*series[i - 2], *series[i - 1]))
            return static_cast<qsizetype>(i - 1);
    }
    return 0;
}

QList<UsageSnapshot> latestSeries(const QList<UsageSnapshot>& series)
{
    const std::vector<const UsageSnapshot*> pointers = pointersTo(series);
    return series.mid(latestSeriesStart(pointers));
}

std::optional<BurnRate> burnRate(std::span<const UsageSnapshot* const> series, ForecastBasis basis)
{
    if (series.size() < 2)
        return std::nullopt;
    if (const std::optional<double> window = lookBackSeconds(basis))
        return fixedLookBack(series, basis, *window);
    if (basis == ForecastBasis::sinceWindowStart)
        return sinceWindowStart(series);
    for (ForecastBasis candidate : {ForecastBasis::last1h, ForecastBasis::last3h, ForecastBasis::last6h,
                                    ForecastBasis::sinceWindowStart}) {
        if (std::optional<BurnRate> rate = burnRate(series, candidate))
            return rate;
    }
    return std::nullopt;
}

std::optional<BurnRate> burnRate(const QList<UsageSnapshot>& series, ForecastBasis basis,
                                 const QDateTime& now)
{
    Q_UNUSED(now) // the look-back is anchored on the latest snapshot, not on the clock
    const std::vector<const UsageSnapshot*> pointers = pointersTo(series);
    return burnRate(pointers, basis);
}

} // namespace BurnRateCalculator
