#include "core/model/ForecastModels.h"

#include "core/forecast/ForecastMath.h"

using ForecastMath::hashDate;
using ForecastMath::hashNumber;
using ForecastMath::sameNumber;

QString ForecastResult::id(Provider provider, WindowKind window)
{
    return rawValue(provider) + QLatin1Char('-') + rawValue(window);
}

bool operator==(const ForecastResult& a, const ForecastResult& b)
{
    return a.provider == b.provider && a.windowKind == b.windowKind && a.basis == b.basis &&
           sameNumber(a.currentUsedPercent, b.currentUsedPercent) &&
           sameNumber(a.currentRemainingPercent, b.currentRemainingPercent) && a.resetAt == b.resetAt &&
           sameNumber(a.timeUntilReset, b.timeUntilReset) &&
           sameNumber(a.burnRatePercentPerHour, b.burnRatePercentPerHour) &&
           sameNumber(a.projectedUsedAtReset, b.projectedUsedAtReset) &&
           sameNumber(a.projectedRemainingAtReset, b.projectedRemainingAtReset) &&
           sameNumber(a.estimatedTimeToLimit, b.estimatedTimeToLimit) &&
           a.limitBeforeReset == b.limitBeforeReset && a.runOutAt == b.runOutAt &&
           a.confidence == b.confidence && a.status == b.status && a.humanSummary == b.humanSummary &&
           a.sampleCount == b.sampleCount;
}

bool operator==(const PaceResult& a, const PaceResult& b)
{
    return a.verdict == b.verdict && sameNumber(a.elapsedRatio, b.elapsedRatio) &&
           sameNumber(a.idealUsageNow, b.idealUsageNow) && sameNumber(a.paceDelta, b.paceDelta) &&
           sameNumber(a.projectedEnd, b.projectedEnd) &&
           sameNumber(a.remainingDailyAllowance, b.remainingDailyAllowance) &&
           sameNumber(a.daysRemaining, b.daysRemaining) && a.summary == b.summary;
}

QString rawValue(PaceResult::Verdict verdict)
{
    switch (verdict) {
    case PaceResult::Verdict::underPace:
        return QStringLiteral("Under pace");
    case PaceResult::Verdict::onPace:
        return QStringLiteral("On pace");
    case PaceResult::Verdict::overPace:
        return QStringLiteral("Over pace");
    case PaceResult::Verdict::noData:
        return QStringLiteral("No data");
    }
    return {};
}

bool operator==(const CalibratedProjection& a, const CalibratedProjection& b)
{
    return sameNumber(a.projectedUsedAtReset, b.projectedUsedAtReset) &&
           sameNumber(a.uncappedUsedAtReset, b.uncappedUsedAtReset) &&
           sameNumber(a.avgDailyTokens, b.avgDailyTokens) && a.tokensThisWindow == b.tokensThisWindow &&
           sameNumber(a.daysRemaining, b.daysRemaining) &&
           sameNumber(a.dailyBurnPercent, b.dailyBurnPercent) &&
           sameNumber(a.daysOfHeadroom, b.daysOfHeadroom) && a.activeDays == b.activeDays;
}

bool operator==(const ScenarioResult& a, const ScenarioResult& b)
{
    return a.title == b.title && a.description == b.description &&
           sameNumber(a.projectedUsedAtReset, b.projectedUsedAtReset) &&
           sameNumber(a.estimatedSavingPercent, b.estimatedSavingPercent) && a.runOutAt == b.runOutAt &&
           a.confidence == b.confidence && a.assumptions == b.assumptions;
}
