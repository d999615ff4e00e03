#pragma once

#include "core/model/Enums.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>
#include <tuple>

// The result records of the forecasting engines. Equality treats two NaNs as the same number, so a
// result always equals itself and "publish only what changed" never loops on a non-finite value.

// Where one provider's quota window will stand at its reset.
struct ForecastResult
{
    Provider provider = Provider::codex;
    WindowKind windowKind = WindowKind::unknown;
    // The basis the caller asked for, not the one `smart` resolved to.
    ForecastBasis basis = ForecastBasis::smart;
    double currentUsedPercent = 0;
    double currentRemainingPercent = 100;
    std::optional<QDateTime> resetAt;
    // Seconds from now to the reset; negative when the reset lies in the past.
    std::optional<double> timeUntilReset;
    std::optional<double> burnRatePercentPerHour;
    // Clamped to 0...140.
    std::optional<double> projectedUsedAtReset;
    std::optional<double> projectedRemainingAtReset;
    // Wall-clock seconds until 100 %, present only when that comes before the reset.
    std::optional<double> estimatedTimeToLimit;
    bool limitBeforeReset = false;
    std::optional<QDateTime> runOutAt;
    SourceConfidence confidence = SourceConfidence::low;
    ForecastStatus status = ForecastStatus::noData;
    QString humanSummary;
    qint64 sampleCount = 0;

    // Provider raw value + "-" + window raw value, e.g. "claude-fiveHour": the key of a forecast map.
    [[nodiscard]] QString id() const { return id(provider, windowKind); }
    [[nodiscard]] static QString id(Provider provider, WindowKind window);

    friend bool operator==(const ForecastResult& a, const ForecastResult& b);
};

// One member of ForecastResult with its key in `status --json`.
template <typename T> struct ForecastField
{
    using Member = T ForecastResult::*;
    const char* key;
    Member member;
};
template <typename T> ForecastField(const char*, T ForecastResult::*) -> ForecastField<T>;

// Every member of ForecastResult once, in order: equality and `status --json` walk this list, and
// ForecastModels.cpp does not compile while a member is missing from it.
inline constexpr std::tuple forecastResultFields{
    ForecastField{"provider", &ForecastResult::provider},
    ForecastField{"windowKind", &ForecastResult::windowKind},
    ForecastField{"basis", &ForecastResult::basis},
    ForecastField{"currentUsedPercent", &ForecastResult::currentUsedPercent},
    ForecastField{"currentRemainingPercent", &ForecastResult::currentRemainingPercent},
    ForecastField{"resetAt", &ForecastResult::resetAt},
    ForecastField{"timeUntilReset", &ForecastResult::timeUntilReset},
    ForecastField{"burnRatePercentPerHour", &ForecastResult::burnRatePercentPerHour},
    ForecastField{"projectedUsedAtReset", &ForecastResult::projectedUsedAtReset},
    ForecastField{"projectedRemainingAtReset", &ForecastResult::projectedRemainingAtReset},
    ForecastField{"estimatedTimeToLimit", &ForecastResult::estimatedTimeToLimit},
    ForecastField{"limitBeforeReset", &ForecastResult::limitBeforeReset},
    ForecastField{"runOutAt", &ForecastResult::runOutAt},
    ForecastField{"confidence", &ForecastResult::confidence},
    ForecastField{"status", &ForecastResult::status},
    ForecastField{"humanSummary", &ForecastResult::humanSummary},
    ForecastField{"sampleCount", &ForecastResult::sampleCount},
};

// Weekly usage against an even spread over the window.
struct PaceResult
{
    enum class Verdict
    {
        underPace,
        onPace,
        overPace,
        noData
    };

    Verdict verdict = Verdict::noData;
    double elapsedRatio = 0;
    double idealUsageNow = 0;
    // usedPercent - idealUsageNow; positive means ahead of (over) pace.
    double paceDelta = 0;
    std::optional<double> projectedEnd;
    std::optional<double> remainingDailyAllowance;
    double daysRemaining = 0;
    QString summary;

    friend bool operator==(const PaceResult& a, const PaceResult& b);
};

// "Under pace", "On pace", "Over pace", "No data".
QString rawValue(PaceResult::Verdict verdict);

// A long-window projection built from the user's own daily token usage.
struct CalibratedProjection
{
    double projectedUsedAtReset = 0;
    double avgDailyTokens = 0;
    qint64 tokensThisWindow = 0;
    double daysRemaining = 0;
    double dailyBurnPercent = 0;
    // Infinite when the daily burn is 0.
    double daysOfHeadroom = 0;
    qint64 activeDays = 0;
    // The projection before the display cap of 140: the line the run-out is read on.
    double uncappedUsedAtReset = 0;

    friend bool operator==(const CalibratedProjection& a, const CalibratedProjection& b);
};

// One what-if: the same window if the user worked differently until its reset. Listed by title.
struct ScenarioResult
{
    QString title;
    QString description;
    std::optional<double> projectedUsedAtReset;
    // Reduction of the remaining burn in points; negative when the scenario costs more.
    std::optional<double> estimatedSavingPercent;
    std::optional<QDateTime> runOutAt;
    SourceConfidence confidence = SourceConfidence::low;
    QStringList assumptions;

    friend bool operator==(const ScenarioResult& a, const ScenarioResult& b);
};

// One piece of advice for the banner. Listed by id, which is fresh for every recommendation.
struct Recommendation
{
    QUuid id = QUuid::createUuid();
    std::optional<Provider> provider;
    ForecastStatus status = ForecastStatus::safe;
    QString message;

    friend bool operator==(const Recommendation&, const Recommendation&) = default;
};
