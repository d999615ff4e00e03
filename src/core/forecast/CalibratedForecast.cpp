#include "core/forecast/CalibratedForecast.h"

#include "core/forecast/ForecastEngine.h"
#include "core/forecast/ForecastMath.h"
#include "core/text/NumberFormatting.h"

#include <algorithm>
#include <cmath>

namespace CalibratedForecast {

ForecastResult apply(const ForecastResult& forecast, const CalibratedProjection& projection,
                     const QDateTime& now)
{
    if (forecast.basis != ForecastBasis::smart || !isLongWindow(forecast.windowKind))
        return forecast;
    ForecastResult result = forecast;
    const double p = projection.projectedUsedAtReset;
    const double current = forecast.currentUsedPercent;
    result.projectedUsedAtReset = p;
    result.projectedRemainingAtReset = std::isnan(p) ? p : std::max(0.0, 100 - p);
    result.limitBeforeReset = p >= 100;
    if (!result.limitBeforeReset)
        result.estimatedTimeToLimit.reset();

    if (result.resetAt) {
        // On the uncapped line, as the forecast and the scenarios take it (never below the capped one).
        const double line = std::max(projection.uncappedUsedAtReset, p);
        // The line runs from the current figure now to the projection at the reset, as the scenarios' do.
        result.runOutAt = ForecastEngine::runOutAt(current, line, now, *result.resetAt);
        if (result.runOutAt) {
            result.estimatedTimeToLimit = std::max(0.0, ForecastMath::secondsBetween(now, *result.runOutAt));
        } else if (result.limitBeforeReset) {
            // No crossing ahead: either the limit is already reached, or the projection lands on exactly
            // 100 % and the limit arrives with the reset.
            if (current >= 100)
                result.estimatedTimeToLimit = 0;
            else if (result.timeUntilReset)
                result.estimatedTimeToLimit = std::max(0.0, *result.timeUntilReset);
            if (result.estimatedTimeToLimit)
                result.runOutAt = ForecastMath::addSeconds(now, *result.estimatedTimeToLimit);
        }
    }
    if (!result.estimatedTimeToLimit)
        result.runOutAt.reset();

    result.humanSummary = QStringLiteral("From your usage history: ~") + NumberFormatting::percent(p) +
                          QStringLiteral(" used by reset (est.).");
    if (projection.activeDays >= 5)
        result.confidence = SourceConfidence::high;
    else if (projection.activeDays >= 3)
        result.confidence = SourceConfidence::medium;
    return result;
}

ForecastStatus weeklyStatus(const ForecastResult& forecast)
{
    if (forecast.currentUsedPercent >= 100)
        return ForecastStatus::limited;
    const double p = forecast.projectedUsedAtReset.value_or(forecast.currentUsedPercent);
    if (p >= 100)
        return ForecastStatus::risky;
    if (p >= 95)
        return ForecastStatus::watch;
    return ForecastStatus::safe;
}

ForecastResult applyWeeklyStatus(const ForecastResult& forecast)
{
    ForecastResult result = forecast;
    result.status = weeklyStatus(forecast);
    return result;
}

std::optional<QString> headroomLabel(const CalibratedProjection& projection)
{
    if (!(projection.dailyBurnPercent > 0.1) || !std::isfinite(projection.daysOfHeadroom))
        return std::nullopt;
    if (projection.daysOfHeadroom >= 1)
        return QStringLiteral("~") + NumberFormatting::fixed(projection.daysOfHeadroom, 1) +
               QStringLiteral(" days of your usual usage left");
    return QStringLiteral("~") + NumberFormatting::fixed(projection.daysOfHeadroom * 24, 0) +
           QStringLiteral("h of your usual usage left");
}

QString confidenceLabel(SourceConfidence confidence)
{
    return rawValue(confidence) + QStringLiteral(" confidence");
}

QString confidenceExplanation(SourceConfidence confidence)
{
    switch (confidence) {
    case SourceConfidence::low:
        return QStringLiteral(
            "Not much usage data yet. This climbs to Medium then High as your history builds.");
    case SourceConfidence::medium:
        return QStringLiteral(
            "Based on a few days of real usage. A full week of history raises this to High.");
    case SourceConfidence::high:
        return QStringLiteral("Grounded in a full week of your real usage history.");
    }
    return {};
}

} // namespace CalibratedForecast
