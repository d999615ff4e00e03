#include "history/HistoryCalibration.h"

#include "history/UsageQueries.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace HistoryCalibration {

std::optional<CalibratedProjection> project(const UsageTotals& totals, Provider provider,
                                            const UsageSnapshot& latest, double effortScale,
                                            const QDateTime& now)
{
    if (!latest.resetAt || !latest.windowDurationMins || !(*latest.windowDurationMins > 0))
        return std::nullopt;
    const QDateTime resetAt = *latest.resetAt;
    const QDateTime windowStart = resetAt.addMSecs(-qint64(*latest.windowDurationMins * 60'000));
    const qint64 tokens = UsageQueries::tokens(totals, provider, windowStart);
    const double used = latest.usedPercent;
    if (tokens < 1 || !(used > 0))
        return std::nullopt;
    const double avgDaily = UsageQueries::averageDailyTokens(totals, provider, 7, now);
    if (!(avgDaily > 0))
        return std::nullopt;

    CalibratedProjection p;
    p.avgDailyTokens = avgDaily;
    p.tokensThisWindow = tokens;
    p.dailyBurnPercent = effortScale * (used / double(tokens)) * avgDaily;
    const double days = UsageQueries::effectiveDays(totals, now, resetAt, provider);
    p.uncappedUsedAtReset = used + p.dailyBurnPercent * days;
    p.projectedUsedAtReset = std::clamp(p.uncappedUsedAtReset, 0.0, 140.0);
    p.daysRemaining = double(std::max<qint64>(0, now.msecsTo(resetAt))) / 86'400'000.0;
    p.daysOfHeadroom = p.dailyBurnPercent > 0 ? std::max(0.0, 100 - used) / p.dailyBurnPercent
                                              : std::numeric_limits<double>::infinity();
    const auto series = UsageQueries::recentSeries(totals, provider, 7, now);
    p.activeDays = std::count_if(series.cbegin(), series.cend(), [](const auto& d) { return d.tokens >= 1; });
    return p;
}

} // namespace HistoryCalibration
