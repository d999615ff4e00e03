#include "ui/TrayText.h"

#include "app/MenuBarTitleBuilder.h"
#include "app/StateQueries.h"

#include <cmath>
#include <optional>

namespace TrayText {
namespace {

std::optional<double> shownValue(const ForecastResult& forecast, bool showRemaining)
{
    const double value = showRemaining ? 100 - forecast.currentUsedPercent : forecast.currentUsedPercent;
    if (!std::isfinite(value))
        return std::nullopt;
    return std::max(0.0, value);
}

bool isAlarming(ForecastStatus status)
{
    return status == ForecastStatus::risky || status == ForecastStatus::limitLikely ||
           status == ForecastStatus::limited;
}

} // namespace

QString toolTip(const QString& title, ForecastStatus globalStatus)
{
    const QString line = MenuBarTitleBuilder::tooltip(globalStatus);
    return title.isEmpty() ? line : title + QLatin1Char('\n') + line;
}

QString figure(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings)
{
    QList<ForecastResult> candidates;
    for (const Provider provider : StateQueries::sortedEnabledProviders(settings)) {
        if (const auto forecast = StateQueries::forecast(forecasts, provider, WindowKind::fiveHour))
            candidates.append(*forecast);
    }
    if (candidates.isEmpty())
        return {};

    MenuBarDisplayMode mode = settings.menuBarDisplayMode;
    if (mode == MenuBarDisplayMode::autoMode) {
        if (candidates.size() == 1) {
            mode = MenuBarDisplayMode::providerFocus;
        } else {
            bool alarming = false;
            for (const ForecastResult& candidate : std::as_const(candidates))
                alarming = alarming || isAlarming(candidate.status);
            mode = alarming ? MenuBarDisplayMode::forecast : MenuBarDisplayMode::compact;
        }
    }

    switch (mode) {
    case MenuBarDisplayMode::iconOnly:
    case MenuBarDisplayMode::forecast:
    case MenuBarDisplayMode::autoMode:
        return {};
    case MenuBarDisplayMode::providerFocus: {
        const ForecastResult* focus = &candidates.first();
        for (const ForecastResult& candidate : std::as_const(candidates)) {
            if (candidate.provider == settings.focusedProvider) {
                focus = &candidate;
                break;
            }
        }
        const auto value = shownValue(*focus, settings.showRemaining);
        return value ? QString::number(std::lround(*value)) : QString();
    }
    case MenuBarDisplayMode::compact:
    case MenuBarDisplayMode::minimal: {
        const ForecastResult* worst = &candidates.first();
        for (const ForecastResult& candidate : std::as_const(candidates)) {
            if (severityRank(candidate.status) > severityRank(worst->status))
                worst = &candidate;
        }
        const auto value = shownValue(*worst, settings.showRemaining);
        return value ? QString::number(static_cast<qint64>(*value)) : QString();
    }
    }
    return {};
}

} // namespace TrayText
