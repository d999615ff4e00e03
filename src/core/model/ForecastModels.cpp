#include "core/model/ForecastModels.h"

#include "core/forecast/ForecastMath.h"

#include <type_traits>
#include <utility>

using ForecastMath::sameNumber;

QString ForecastResult::id(Provider provider, WindowKind window)
{
    return rawValue(provider) + QLatin1Char('-') + rawValue(window);
}

namespace {

template <typename T> bool sameValue(const T& a, const T& b)
{
    if constexpr (std::is_same_v<T, double> || std::is_same_v<T, std::optional<double>>)
        return sameNumber(a, b);
    else
        return a == b;
}

// Converts to any member's type: an aggregate takes one of these per member and no more.
struct AnyMember
{
    template <typename T> operator T() const;
};
template <std::size_t> using AnyMemberAt = AnyMember;

template <typename T, std::size_t... I> constexpr bool takesInitializers(std::index_sequence<I...>)
{
    // clang-format off: the releases we build with lay a requires-expression out differently
    return requires
    {
        T{AnyMemberAt<I>{}...};
    };
    // clang-format on
}

constexpr std::size_t forecastFieldCount = std::tuple_size_v<decltype(forecastResultFields)>;
static_assert(!takesInitializers<ForecastResult>(std::make_index_sequence<forecastFieldCount + 1>{}),
              "a member of ForecastResult is missing from forecastResultFields");

} // namespace

bool operator==(const ForecastResult& a, const ForecastResult& b)
{
    const auto same = [&](const auto&... field) {
        return (sameValue(a.*field.member, b.*field.member) && ...);
    };
    return std::apply(same, forecastResultFields);
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
