#include "core/ForecastModels.h"

#include "core/ForecastMath.h"

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

size_t qHash(const ForecastResult& r, size_t seed) noexcept
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, static_cast<int>(r.provider));
    seed = combine(seed, static_cast<int>(r.windowKind));
    seed = combine(seed, static_cast<int>(r.basis));
    seed = hashNumber(seed, r.currentUsedPercent);
    seed = hashNumber(seed, r.currentRemainingPercent);
    seed = hashDate(seed, r.resetAt);
    seed = hashNumber(seed, r.timeUntilReset);
    seed = hashNumber(seed, r.burnRatePercentPerHour);
    seed = hashNumber(seed, r.projectedUsedAtReset);
    seed = hashNumber(seed, r.projectedRemainingAtReset);
    seed = hashNumber(seed, r.estimatedTimeToLimit);
    seed = combine(seed, r.limitBeforeReset);
    seed = hashDate(seed, r.runOutAt);
    seed = combine(seed, static_cast<int>(r.confidence));
    seed = combine(seed, static_cast<int>(r.status));
    seed = combine(seed, r.humanSummary);
    seed = combine(seed, r.sampleCount);
    return seed;
}

bool operator==(const PaceResult& a, const PaceResult& b)
{
    return a.verdict == b.verdict && sameNumber(a.elapsedRatio, b.elapsedRatio) &&
           sameNumber(a.idealUsageNow, b.idealUsageNow) && sameNumber(a.paceDelta, b.paceDelta) &&
           sameNumber(a.projectedEnd, b.projectedEnd) &&
           sameNumber(a.remainingDailyAllowance, b.remainingDailyAllowance) &&
           sameNumber(a.daysRemaining, b.daysRemaining) && a.summary == b.summary;
}

size_t qHash(const PaceResult& r, size_t seed) noexcept
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, static_cast<int>(r.verdict));
    seed = hashNumber(seed, r.elapsedRatio);
    seed = hashNumber(seed, r.idealUsageNow);
    seed = hashNumber(seed, r.paceDelta);
    seed = hashNumber(seed, r.projectedEnd);
    seed = hashNumber(seed, r.remainingDailyAllowance);
    seed = hashNumber(seed, r.daysRemaining);
    seed = combine(seed, r.summary);
    return seed;
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

size_t qHash(const CalibratedProjection& p, size_t seed) noexcept
{
    QtPrivate::QHashCombine combine;
    seed = hashNumber(seed, p.projectedUsedAtReset);
    seed = hashNumber(seed, p.uncappedUsedAtReset);
    seed = hashNumber(seed, p.avgDailyTokens);
    seed = combine(seed, p.tokensThisWindow);
    seed = hashNumber(seed, p.daysRemaining);
    seed = hashNumber(seed, p.dailyBurnPercent);
    seed = hashNumber(seed, p.daysOfHeadroom);
    seed = combine(seed, p.activeDays);
    return seed;
}

bool operator==(const ScenarioResult& a, const ScenarioResult& b)
{
    return a.title == b.title && a.description == b.description &&
           sameNumber(a.projectedUsedAtReset, b.projectedUsedAtReset) &&
           sameNumber(a.estimatedSavingPercent, b.estimatedSavingPercent) && a.runOutAt == b.runOutAt &&
           a.confidence == b.confidence && a.assumptions == b.assumptions;
}

size_t qHash(const ScenarioResult& r, size_t seed) noexcept
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, r.title);
    seed = combine(seed, r.description);
    seed = hashNumber(seed, r.projectedUsedAtReset);
    seed = hashNumber(seed, r.estimatedSavingPercent);
    seed = hashDate(seed, r.runOutAt);
    seed = combine(seed, static_cast<int>(r.confidence));
    for (const QString& line : r.assumptions)
        seed = combine(seed, line);
    return seed;
}

size_t qHash(const Recommendation& r, size_t seed) noexcept
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, r.id);
    seed = combine(seed, r.provider ? static_cast<int>(*r.provider) : -1);
    seed = combine(seed, static_cast<int>(r.status));
    seed = combine(seed, r.message);
    return seed;
}
