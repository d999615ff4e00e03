#include "core/forecast/PaceCalculator.h"

#include "core/forecast/ForecastMath.h"
#include "core/text/NumberFormatting.h"

#include <algorithm>
#include <cmath>

namespace PaceCalculator {

namespace {

PaceResult noWindowData()
{
    PaceResult result;
    result.verdict = PaceResult::Verdict::noData;
    result.summary = QStringLiteral("Pace unavailable (no window data).");
    return result;
}

// Waking seconds of [from, to); 0 unless `to` lies after `from`.
double wakingSeconds(const SleepSchedule& sleep, const QDateTime& from, const QDateTime& to)
{
    const double wall = ForecastMath::secondsBetween(from, to);
    if (!(wall > 0))
        return 0;
    return std::max(0.0, wall - sleep.sleepSeconds(from, to));
}

// "14.3%"; the dash alone for a target that is not a number.
QString dailyTarget(double percent)
{
    return std::isfinite(percent) ? NumberFormatting::fixed(percent, 1) + QLatin1Char('%')
                                  : NumberFormatting::dash;
}

} // namespace

PaceResult pace(const UsageSnapshot& snapshot, double dailyTargetPercent,
                const std::optional<SleepSchedule>& sleep, const QDateTime& now)
{
    // A window longer than any reset horizon has no start worth walking the nights back to.
    if (!ForecastMath::knownReset(snapshot.resetAt, now) ||
        ForecastMath::resetPassed(snapshot.resetAt, now) || !snapshot.windowDurationMins ||
        !(*snapshot.windowDurationMins > 0) ||
        !(*snapshot.windowDurationMins * 60 <= ForecastMath::resetHorizonSeconds))
        return noWindowData();
    const QDateTime& resetAt = *snapshot.resetAt;
    const double windowSeconds = *snapshot.windowDurationMins * 60.0;
    // A window too long for a date to hold has no start to measure from.
    const std::optional<QDateTime> windowStart = ForecastMath::addSeconds(resetAt, -windowSeconds);
    if (!windowStart)
        return noWindowData();

    double total = 0;
    double elapsed = 0;
    if (sleep && sleep->enabled) {
        total = wakingSeconds(*sleep, *windowStart, resetAt);
        elapsed = wakingSeconds(*sleep, *windowStart, now);
    } else {
        total = ForecastMath::secondsBetween(*windowStart, resetAt);
        elapsed = ForecastMath::secondsBetween(*windowStart, now);
    }

    PaceResult result;
    const double ratio = total > 0 ? elapsed / total : 0;
    result.elapsedRatio = std::isnan(ratio) ? 0 : ForecastMath::clampNumber(ratio, 0, 1);
    result.idealUsageNow = result.elapsedRatio * 100;
    result.paceDelta = snapshot.usedPercent - result.idealUsageNow;
    const double daysToReset = ForecastMath::secondsBetween(now, resetAt) / 86400.0;
    result.daysRemaining = daysToReset > 0 ? daysToReset : 0;
    result.remainingDailyAllowance =
        snapshot.remainingPercent / std::max(result.daysRemaining, minimumDaysRemaining);
    if (result.elapsedRatio > 0.01)
        result.projectedEnd = ForecastMath::clampNumber(snapshot.usedPercent / result.elapsedRatio, 0, 140);

    if (result.paceDelta > onPaceBandPoints) {
        result.verdict = PaceResult::Verdict::overPace;
        result.summary = QStringLiteral("Over pace by ") + NumberFormatting::signedPoints(result.paceDelta) +
                         QStringLiteral(". Daily budget ~") + dailyTarget(dailyTargetPercent) +
                         QLatin1Char('.');
    } else if (result.paceDelta < -onPaceBandPoints) {
        result.verdict = PaceResult::Verdict::underPace;
        result.summary = QStringLiteral("Under pace by ") + NumberFormatting::signedPoints(result.paceDelta) +
                         QStringLiteral(". Headroom of ~") +
                         NumberFormatting::percent(result.remainingDailyAllowance) + QStringLiteral("/day.");
    } else {
        result.verdict = PaceResult::Verdict::onPace;
        result.summary = QStringLiteral("On pace. ~") +
                         NumberFormatting::percent(result.remainingDailyAllowance) +
                         QStringLiteral("/day available.");
    }
    return result;
}

} // namespace PaceCalculator
