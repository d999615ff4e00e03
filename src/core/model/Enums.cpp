#include "core/model/Enums.h"

namespace {

template <typename E, std::size_t N> std::optional<E> lookUp(const std::array<E, N>& cases, QStringView raw)
{
    for (E value : cases) {
        if (rawValue(value) == raw)
            return value;
    }
    return std::nullopt;
}

} // namespace

QString rawValue(Provider value)
{
    switch (value) {
    case Provider::codex:
        return QStringLiteral("codex");
    case Provider::claude:
        return QStringLiteral("claude");
    }
    return {};
}

QString rawValue(WindowKind value)
{
    switch (value) {
    case WindowKind::fiveHour:
        return QStringLiteral("fiveHour");
    case WindowKind::sevenDay:
        return QStringLiteral("sevenDay");
    case WindowKind::weekly:
        return QStringLiteral("weekly");
    case WindowKind::monthly:
        return QStringLiteral("monthly");
    case WindowKind::unknown:
        return QStringLiteral("unknown");
    }
    return {};
}

QString rawValue(SourceConfidence value)
{
    switch (value) {
    case SourceConfidence::low:
        return QStringLiteral("low");
    case SourceConfidence::medium:
        return QStringLiteral("medium");
    case SourceConfidence::high:
        return QStringLiteral("high");
    }
    return {};
}

QString rawValue(ForecastStatus value)
{
    switch (value) {
    case ForecastStatus::noData:
        return QStringLiteral("noData");
    case ForecastStatus::safe:
        return QStringLiteral("safe");
    case ForecastStatus::watch:
        return QStringLiteral("watch");
    case ForecastStatus::risky:
        return QStringLiteral("risky");
    case ForecastStatus::limitLikely:
        return QStringLiteral("limitLikely");
    case ForecastStatus::limited:
        return QStringLiteral("limited");
    case ForecastStatus::unknown:
        return QStringLiteral("unknown");
    }
    return {};
}

QString rawValue(ForecastBasis value)
{
    switch (value) {
    case ForecastBasis::last30m:
        return QStringLiteral("last30m");
    case ForecastBasis::last1h:
        return QStringLiteral("last1h");
    case ForecastBasis::last3h:
        return QStringLiteral("last3h");
    case ForecastBasis::last6h:
        return QStringLiteral("last6h");
    case ForecastBasis::last24h:
        return QStringLiteral("last24h");
    case ForecastBasis::sinceWindowStart:
        return QStringLiteral("sinceWindowStart");
    case ForecastBasis::smart:
        return QStringLiteral("smart");
    }
    return {};
}

template <> std::optional<Provider> fromRawValue<Provider>(QStringView raw)
{
    return lookUp(allProviders, raw);
}
template <> std::optional<WindowKind> fromRawValue<WindowKind>(QStringView raw)
{
    return lookUp(allWindowKinds, raw);
}
template <> std::optional<SourceConfidence> fromRawValue<SourceConfidence>(QStringView raw)
{
    return lookUp(allSourceConfidences, raw);
}
template <> std::optional<ForecastStatus> fromRawValue<ForecastStatus>(QStringView raw)
{
    return lookUp(allForecastStatuses, raw);
}
template <> std::optional<ForecastBasis> fromRawValue<ForecastBasis>(QStringView raw)
{
    return lookUp(allForecastBases, raw);
}

QString displayName(Provider value)
{
    return value == Provider::codex ? QStringLiteral("Codex") : QStringLiteral("Claude Code");
}

QString shortLabel(WindowKind value)
{
    switch (value) {
    case WindowKind::fiveHour:
        return QStringLiteral("5h");
    case WindowKind::sevenDay:
        return QStringLiteral("7d");
    case WindowKind::weekly:
        return QStringLiteral("Weekly");
    case WindowKind::monthly:
        return QStringLiteral("Monthly");
    case WindowKind::unknown:
        return QStringLiteral("Window");
    }
    return {};
}

int displayRank(WindowKind value)
{
    switch (value) {
    case WindowKind::fiveHour:
        return 0;
    case WindowKind::sevenDay:
    case WindowKind::weekly:
        return 1;
    case WindowKind::monthly:
        return 2;
    case WindowKind::unknown:
        return 3;
    }
    return 3;
}

bool isLongWindow(WindowKind value)
{
    return value == WindowKind::sevenDay || value == WindowKind::weekly;
}

QString displayLabel(SourceConfidence value)
{
    QString text = rawValue(value);
    text[0] = text[0].toUpper();
    return text;
}

QString label(ForecastStatus value)
{
    switch (value) {
    case ForecastStatus::noData:
        return QStringLiteral("No data");
    case ForecastStatus::safe:
        return QStringLiteral("Safe");
    case ForecastStatus::watch:
        return QStringLiteral("Watch");
    case ForecastStatus::risky:
        return QStringLiteral("Risky");
    case ForecastStatus::limitLikely:
        return QStringLiteral("Limit likely");
    case ForecastStatus::limited:
        return QStringLiteral("Limited");
    case ForecastStatus::unknown:
        return QStringLiteral("Unknown");
    }
    return {};
}

ColorRole colorRole(ForecastStatus value)
{
    switch (value) {
    case ForecastStatus::safe:
        return ColorRole::safe;
    case ForecastStatus::watch:
        return ColorRole::watch;
    case ForecastStatus::risky:
    case ForecastStatus::limitLikely:
        return ColorRole::risky;
    case ForecastStatus::limited:
        return ColorRole::limited;
    case ForecastStatus::noData:
    case ForecastStatus::unknown:
        return ColorRole::neutral;
    }
    return ColorRole::neutral;
}

int severityRank(ForecastStatus value)
{
    switch (value) {
    case ForecastStatus::noData:
    case ForecastStatus::unknown:
        return 0;
    case ForecastStatus::safe:
        return 1;
    case ForecastStatus::watch:
        return 2;
    case ForecastStatus::risky:
        return 3;
    case ForecastStatus::limitLikely:
        return 4;
    case ForecastStatus::limited:
        return 5;
    }
    return 0;
}

ForecastStatus worse(ForecastStatus current, ForecastStatus candidate)
{
    return severityRank(candidate) > severityRank(current) ? candidate : current;
}

bool isRiskyOrWorse(ForecastStatus value)
{
    return severityRank(value) >= severityRank(ForecastStatus::risky);
}

QString shortLabel(ForecastBasis value)
{
    switch (value) {
    case ForecastBasis::last30m:
        return QStringLiteral("30m");
    case ForecastBasis::last1h:
        return QStringLiteral("1h");
    case ForecastBasis::last3h:
        return QStringLiteral("3h");
    case ForecastBasis::last6h:
        return QStringLiteral("6h");
    case ForecastBasis::last24h:
        return QStringLiteral("24h");
    case ForecastBasis::sinceWindowStart:
        return QStringLiteral("Start");
    case ForecastBasis::smart:
        return QStringLiteral("Smart");
    }
    return {};
}

QString explanation(ForecastBasis value)
{
    switch (value) {
    case ForecastBasis::last30m:
        return QStringLiteral(
            "Projects from your burn over the last 30 minutes — reacts fast to a recent burst.");
    case ForecastBasis::last1h:
        return QStringLiteral("Projects from your burn over the last hour.");
    case ForecastBasis::last3h:
        return QStringLiteral("Projects from your burn over the last 3 hours.");
    case ForecastBasis::last6h:
        return QStringLiteral("Projects from your burn over the last 6 hours — smooths out spikes.");
    case ForecastBasis::last24h:
        return QStringLiteral("Projects from your burn over the last 24 hours — best for the weekly window; "
                              "evens out a single heavy day.");
    case ForecastBasis::sinceWindowStart:
        return QStringLiteral("Projects from your average burn since this window began.");
    case ForecastBasis::smart:
        return QStringLiteral(
            "Recommended: projects from your real usage history (typical daily volume and when "
            "you work), not just the recent rate.");
    }
    return {};
}
