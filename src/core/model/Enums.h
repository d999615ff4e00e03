#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

// The shared enumerations. Each is stored and exchanged by its raw string; rawValue() gives it and
// fromRawValue<E>() reads it back (no value for any other string).

enum class Provider
{
    codex,
    claude
};
enum class WindowKind
{
    fiveHour,
    sevenDay,
    weekly,
    monthly,
    unknown
};
enum class SourceConfidence
{
    low,
    medium,
    high
};
enum class ForecastStatus
{
    noData,
    safe,
    watch,
    risky,
    limitLikely,
    limited,
    unknown
};
enum class ForecastBasis
{
    last30m,
    last1h,
    last3h,
    last6h,
    last24h,
    sinceWindowStart,
    smart
};

// Which colour the status pill uses.
enum class ColorRole
{
    neutral,
    safe,
    watch,
    risky,
    limited
};

inline constexpr std::array allProviders{Provider::codex, Provider::claude};
inline constexpr std::array allWindowKinds{WindowKind::fiveHour, WindowKind::sevenDay, WindowKind::weekly,
                                           WindowKind::monthly, WindowKind::unknown};
inline constexpr std::array allSourceConfidences{SourceConfidence::low, SourceConfidence::medium,
                                                 SourceConfidence::high};
inline constexpr std::array allForecastStatuses{
    ForecastStatus::noData,      ForecastStatus::safe,    ForecastStatus::watch,  ForecastStatus::risky,
    ForecastStatus::limitLikely, ForecastStatus::limited, ForecastStatus::unknown};
inline constexpr std::array allForecastBases{
    ForecastBasis::last30m, ForecastBasis::last1h,           ForecastBasis::last3h, ForecastBasis::last6h,
    ForecastBasis::last24h, ForecastBasis::sinceWindowStart, ForecastBasis::smart};

QString rawValue(Provider value);
QString rawValue(WindowKind value);
QString rawValue(SourceConfidence value);
QString rawValue(ForecastStatus value);
QString rawValue(ForecastBasis value);

template <typename E> std::optional<E> fromRawValue(QStringView raw);
template <> std::optional<Provider> fromRawValue<Provider>(QStringView raw);
template <> std::optional<WindowKind> fromRawValue<WindowKind>(QStringView raw);
template <> std::optional<SourceConfidence> fromRawValue<SourceConfidence>(QStringView raw);
template <> std::optional<ForecastStatus> fromRawValue<ForecastStatus>(QStringView raw);
template <> std::optional<ForecastBasis> fromRawValue<ForecastBasis>(QStringView raw);

// "Codex", "Claude Code".
QString displayName(Provider value);

// "5h", "7d", "Weekly", "Monthly", "Window".
QString shortLabel(WindowKind value);
// Windows listed for display are sorted stably by this rank.
int displayRank(WindowKind value);
// The seven-day buckets (sevenDay and weekly).
bool isLongWindow(WindowKind value);

// "Low", "Medium", "High".
QString displayLabel(SourceConfidence value);

QString label(ForecastStatus value);
ColorRole colorRole(ForecastStatus value);
// Higher is worse; noData and unknown share the lowest rank.
int severityRank(ForecastStatus value);
// The worse of the two; on equal rank the first one stays.
ForecastStatus worse(ForecastStatus current, ForecastStatus candidate);
// Risky, limit likely or limited: the statuses that call for the user's attention.
bool isRiskyOrWorse(ForecastStatus value);

// "30m", "1h", ... "Start", "Smart".
QString shortLabel(ForecastBasis value);
QString explanation(ForecastBasis value);
