#include "core/forecast/RecommendationEngine.h"

#include "core/text/NumberFormatting.h"
#include "core/text/TimeFormatting.h"

namespace RecommendationEngine {

namespace {

Recommendation make(Provider provider, ForecastStatus status, const QString& message)
{
    Recommendation recommendation;
    recommendation.provider = provider;
    recommendation.status = status;
    recommendation.message = message;
    return recommendation;
}

std::optional<Recommendation> weeklyAdvice(Provider provider, const ForecastResult& longWindow)
{
    if (!longWindow.projectedRemainingAtReset)
        return std::nullopt;
    const QString name = displayName(provider);
    const QString left = NumberFormatting::percent(longWindow.projectedRemainingAtReset);
    switch (longWindow.status) {
    case ForecastStatus::noData:
    case ForecastStatus::unknown:
        return std::nullopt;
    case ForecastStatus::safe:
        return make(provider, ForecastStatus::safe,
                    name + QStringLiteral(" is on track: about ") + left +
                        QStringLiteral(" of your weekly left by reset (est.)."));
    case ForecastStatus::watch:
        return make(provider, ForecastStatus::watch,
                    name + QStringLiteral(" weekly is getting tight, ~") + left +
                        QStringLiteral(" left by reset. Ease off for routine work."));
    case ForecastStatus::risky:
    case ForecastStatus::limitLikely:
    case ForecastStatus::limited:
        return make(provider, ForecastStatus::risky,
                    name + QStringLiteral(
                               " weekly will run out before reset at this pace. Lower effort or slow down."));
    }
    return std::nullopt;
}

std::optional<Recommendation> fiveHourAdvice(Provider provider, const ForecastResult& fiveHour)
{
    const QString name = displayName(provider);
    switch (fiveHour.status) {
    case ForecastStatus::noData:
    case ForecastStatus::safe:
    case ForecastStatus::unknown:
        return std::nullopt;
    case ForecastStatus::watch:
        return make(provider, ForecastStatus::watch,
                    name + QStringLiteral(" is near its 5h cap. Lower effort for routine edits."));
    case ForecastStatus::risky:
        return make(provider, ForecastStatus::risky,
                    name +
                        QStringLiteral(" 5h is risky. Lower effort or switch provider for routine edits."));
    case ForecastStatus::limitLikely:
        return make(provider, ForecastStatus::limitLikely,
                    name + QStringLiteral(" may hit the 5h limit in ~") +
                        TimeFormatting::countdown(fiveHour.estimatedTimeToLimit) +
                        QStringLiteral(". Save it for complex work."));
    case ForecastStatus::limited:
        return make(provider, ForecastStatus::limited,
                    name + QStringLiteral(" hit the 5h limit. Resets ") +
                        TimeFormatting::relativeCountdown(fiveHour.timeUntilReset) + QLatin1Char('.'));
    }
    return std::nullopt;
}

std::optional<Recommendation> crossProviderAdvice(const QList<Input>& inputs)
{
    if (inputs.size() < 2)
        return std::nullopt;
    struct Entry
    {
        Provider provider;
        double remaining;
        ForecastStatus status;
    };
    QList<Entry> entries;
    for (const Input& input : inputs) {
        if (input.fiveHour)
            entries.append({input.provider, input.fiveHour->currentRemainingPercent, input.fiveHour->status});
    }
    const Entry* stressed = nullptr;
    for (const Entry& entry : entries) {
        if (isRiskyOrWorse(entry.status)) {
            stressed = &entry;
            break;
        }
    }
    if (stressed == nullptr)
        return std::nullopt;
    const Entry* roomiest = &entries.first();
    for (const Entry& entry : entries) {
        if (entry.remaining > roomiest->remaining)
            roomiest = &entry;
    }
    if (roomiest->provider == stressed->provider ||
        !(roomiest->remaining - stressed->remaining > crossProviderMarginPoints))
        return std::nullopt;
    return make(roomiest->provider, ForecastStatus::safe,
                displayName(roomiest->provider) +
                    QStringLiteral(" has more headroom right now. Consider it for routine edits."));
}

} // namespace

QList<Recommendation> recommendations(const QList<Input>& inputs)
{
    QList<Recommendation> results;
    for (const Input& input : inputs) {
        // "On track" beside a warning that the 5h may run out reads as a contradiction: the warning stands.
        const bool fiveHourAtRisk = input.fiveHour && isRiskyOrWorse(input.fiveHour->status);
        if (input.longWindow) {
            std::optional<Recommendation> advice = weeklyAdvice(input.provider, *input.longWindow);
            if (advice && !(fiveHourAtRisk && advice->status == ForecastStatus::safe))
                results << *advice;
        }
        if (input.fiveHour) {
            if (std::optional<Recommendation> advice = fiveHourAdvice(input.provider, *input.fiveHour))
                results << *advice;
        }
    }
    if (std::optional<Recommendation> advice = crossProviderAdvice(inputs))
        results << *advice;
    return results;
}

} // namespace RecommendationEngine
